// Window placement: the placement text and its round trips through real windows.

#include "app/libForms.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

TEST(AppPlacementTest, TextRoundTripsThroughRealWindowsAndBadTextIsIgnored) {
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

    // Invalid text leaves the window where it is; a placement off every screen comes back.
    QWidget w;
    w.setGeometry(30, 40, 500, 400);
    for (const char* s : {"", "1,2,3", "garbage", "1,-1,-1,-1,-1,10,10,800,600,5"}) {
        libForms::SetFormPlacement(&w, s);
        EXPECT_EQ(w.geometry(), QRect(30, 40, 500, 400)) << s;
    }
    libForms::SetFormPlacement(&w, "1,-1,-1,-1,-1,50000,50000,50640,50480");
    QRect avail = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(avail.intersects(w.geometry()));
    EXPECT_EQ(w.size(), QSize(640, 480));
}

} // namespace
