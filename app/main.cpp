#include "app/ZRNAppDelegate.h"

int main(int argc, char* argv[]) { return ZRNApplicationMain(argc, argv); }
