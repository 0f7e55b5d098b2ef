#include "app/driver.h"

int wmain(int argc, wchar_t** argv) { return scancap::RunScancap(argc, argv); }
