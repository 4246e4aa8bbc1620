// Start-up, the main window and the message loop.

namespace {

int Start(HINSTANCE, int) { return 0; }

}  // namespace
