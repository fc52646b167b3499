// The executable: the main window is created here, so that the app layer never needs a
// header of the ui layer.

#include "app/appSetup.h"
#include "ui/frmSchedule.h"

#include <QtGlobal>
#include <memory>

int main(int argc, char** argv) {
    // The resources (icons, help page) live in the static GUI library: register them explicitly.
    Q_INIT_RESOURCE(stowline);
    return appSetup::Main(argc, argv, [] { return std::make_unique<frmSchedule>(); });
}
