// Placeholder entry point until the driver lands.
int wmain() { return 0; }
