// PLACEHOLDERS ONLY. These operations do nothing yet: they exist so that the
// launcher links while the animation, the context menu and the owner drawing
// are being written. Whoever adds tray_animation.cpp, tray_menu.cpp and
// tray_owner_draw.cpp deletes this file (and its line in tray/CMakeLists.txt)
// in the same commit.
#include "tray/tray_icon.h"

BOOL TrayIcon::LoadAnimationIcons(UINT, UINT) { return FALSE; }
BOOL TrayIcon::BeginAnimation(UINT, int32_t) { return FALSE; }
LRESULT TrayIcon::HandleTimer(WPARAM) { return 0; }
BOOL TrayIcon::AdvanceAnimation() { return FALSE; }
BOOL TrayIcon::EndAnimation() { return FALSE; }

LRESULT TrayIcon::HandleNotification(WPARAM, LPARAM) { return 0; }

void TrayIcon::PrepareMenu(HMENU) {}
BOOL TrayIcon::OnMeasureItem(WPARAM, MEASUREITEMSTRUCT *) { return FALSE; }
BOOL TrayIcon::OnDrawItem(WPARAM, const DRAWITEMSTRUCT *) { return FALSE; }
UINT TrayIcon::MenuIconForCommand(UINT) { return 0; }
