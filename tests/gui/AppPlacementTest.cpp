// Window placement: the placement text, its round trips through real windows, and centring.

#include "app/libForms.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

using libForms::WindowPlacement;

TEST(AppPlacementTest, ParsesNineIntegersInRecordOrder) {
    WindowPlacement wp;
    ASSERT_TRUE(libForms::ParsePlacement("3,-1,-1,-1,-1,10,10,800,600", wp));
    EXPECT_EQ(wp.ShowCmd, 3); // a maximised window is restored maximised
    EXPECT_EQ(wp.Flags, 0);
    EXPECT_EQ(wp.MaxX, -1);
    EXPECT_EQ(wp.MinY, -1);
    EXPECT_EQ(wp.Left, 10);
    EXPECT_EQ(wp.Top, 10);
    EXPECT_EQ(wp.Right, 800);
    EXPECT_EQ(wp.Bottom, 600);
    // A minimised window comes back normal; a stored minimised position sets flag 1.
    ASSERT_TRUE(libForms::ParsePlacement("2,-1,-1,-32000,-32000,1,2,3,4", wp));
    EXPECT_EQ(wp.ShowCmd, 1);
    EXPECT_EQ(wp.Flags, 1);
    EXPECT_EQ(wp.MinX, -32000);
    EXPECT_EQ(libForms::FormatPlacement(wp), "1,-1,-1,-32000,-32000,1,2,3,4");

    // Anything but exactly nine integers is refused and leaves the record untouched.
    wp.Left = 77;
    for (const char* s :
         {"", ",", "1,2,3,4,5,6,7,8", "1,2,3,4,5,6,7,8,9,10", "1,2,3,4,5,6,7,8,x", "1,2,3,4,5,6,7,8,",
          "1.5,2,3,4,5,6,7,8,9", "1,2,3,4,5,6,7,8,99999999999", "1,2,3,,5,6,7,8,9", "-,2,3,4,5,6,7,8,9"}) {
        EXPECT_FALSE(libForms::ParsePlacement(s, wp)) << s;
    }
    EXPECT_EQ(wp.Left, 77);
}

TEST(AppPlacementTest, TextRoundTripsThroughRealWindows) {
    QWidget a;
    a.setGeometry(40, 50, 640, 480);
    a.show();
    std::string sText = libForms::GetFormPlacement(&a);
    EXPECT_EQ(sText, "1,-1,-1,-1,-1,40,50,680,530");

    QWidget b;
    libForms::SetFormPlacement(&b, sText);
    EXPECT_FALSE(b.isVisible()); // placing does not show the window
    EXPECT_EQ(b.geometry(), QRect(40, 50, 640, 480));
    EXPECT_EQ(libForms::GetFormPlacement(&b), sText);

    // Maximised: the normal position is kept for later, the state comes back.
    QWidget c;
    libForms::SetFormPlacement(&c, "3,-1,-1,-1,-1,10,10,800,600");
    EXPECT_TRUE(c.windowState() & Qt::WindowMaximized);
    c.show();
    EXPECT_TRUE(c.isMaximized());
    std::string sMax = libForms::GetFormPlacement(&c);
    EXPECT_EQ(sMax.substr(0, 2), "3,");
    QWidget d;
    libForms::SetFormPlacement(&d, sMax);
    EXPECT_TRUE(d.windowState() & Qt::WindowMaximized);
    EXPECT_EQ(libForms::GetFormPlacement(&d).substr(0, 2), "3,");

    EXPECT_EQ(libForms::GetFormPlacement(nullptr), "");
}

TEST(AppPlacementTest, InvalidTextLeavesWindowWhereItIsAndOffScreenComesBack) {
    QWidget w;
    w.setGeometry(30, 40, 500, 400);
    for (const char* s : {"", "1,2,3", "garbage", "1,-1,-1,-1,-1,10,10,800,600,5"}) {
        libForms::SetFormPlacement(&w, s);
        EXPECT_EQ(w.geometry(), QRect(30, 40, 500, 400)) << s;
    }
    // A placement off every screen is brought back.
    libForms::SetFormPlacement(&w, "1,-1,-1,-1,-1,50000,50000,50640,50480");
    QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(avail.intersects(w.geometry()));
    EXPECT_EQ(w.size(), QSize(640, 480));
}

} // namespace
