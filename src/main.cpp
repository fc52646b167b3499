#include "app/appSetup.h"

int main(int argc, char** argv) { return appSetup::Main(argc, argv, {}); }
