#pragma once

// What assistive technologies are told beyond Qt's defaults: the main window
// is a window captioned with its title (a plain top-level widget is
// otherwise reported with the role "filler" and no name), and a tab strip
// carries its accessible name (Qt names a strip after its current tab).
void InstallAccessibility();
