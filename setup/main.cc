// Entry point of vorlen-setup.exe: the module plus wWinMain.
#include "module.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  SearchSystemFolderOnly();
  return Start(instance, show);
}
