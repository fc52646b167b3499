#include "app/appSetup.h"

#include <iostream>

namespace appSetup {
int Main(int, char**) {
    std::cerr << "Stowline: start-up is not built yet" << std::endl;
    return 2;
}
} // namespace appSetup
