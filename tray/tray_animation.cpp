// Tray icon animation: a list of frames shown one after the other on the
// hidden window's timer for a limited number of whole seconds, after which
// the icon shown before the animation comes back.
//
// Two states: idle (animationTimer 0) and running (animationTimer not 0).
// BeginAnimation always passes through idle first; EndAnimation, called by the
// tick at which the time is up or by the next BeginAnimation, returns to idle.
#include "tray/tray_icon.h"

#include "tray/platform_calls.h"

#include <new>

BOOL TrayIcon::LoadAnimationIcons(UINT firstId, UINT lastId) {
    if (firstId > lastId) return FALSE;
    animationIcons.clear();
    // A frame list growing out of memory is the one failure the program
    // catches; the list is then left empty rather than half-filled.
    try {
        for (UINT id = firstId;; ++id) {
            // A missing resource yields a null frame, kept like any other.
            animationIcons.push_back(LoadIconA(instance, MAKEINTRESOURCEA(static_cast<WORD>(id))));
            if (id == lastId) break;
        }
    } catch (const std::bad_alloc&) {
        animationIcons.clear();
        return FALSE;
    }
    return TRUE;
}

BOOL TrayIcon::BeginAnimation(UINT periodMs, int32_t seconds) {
    EndAnimation(); // a running animation first puts its saved icon back
    frameIndex = 0;
    animationStart = platformCalls.time();
    animationSeconds = seconds;
    iconBeforeAnimation = shellReady ? notifyData.hIcon : nullptr;
    animationTimer = static_cast<UINT>(
        platformCalls.SetTimer(hiddenWindow, AnimationTimerId, periodMs, nullptr));
    return animationTimer != 0;
}

LRESULT TrayIcon::HandleTimer(WPARAM timerId) {
    // A tick still queued after EndAnimation meets animationTimer 0: ignored.
    if (timerId != animationTimer) return 0;
    // The elapsed time is taken as an unsigned difference, so a clock set back
    // during the animation reads as a huge elapsed time and ends it.
    const uint32_t elapsed =
        static_cast<uint32_t>(platformCalls.time()) - static_cast<uint32_t>(animationStart);
    if (animationSeconds > 0 && elapsed > static_cast<uint32_t>(animationSeconds))
        EndAnimation();
    else
        AdvanceAnimation();
    return 0;
}

BOOL TrayIcon::AdvanceAnimation() {
    if (animationIcons.empty()) return FALSE;
    // Advanced before showing, from 0: the first tick shows the second frame.
    ++frameIndex;
    if (frameIndex >= animationIcons.size()) frameIndex = 0;
    return ChangeIcon(animationIcons[frameIndex]);
}

BOOL TrayIcon::EndAnimation() {
    BOOL result = FALSE;
    if (animationTimer != 0) result = platformCalls.KillTimer(hiddenWindow, animationTimer);
    animationTimer = 0;
    if (iconBeforeAnimation != nullptr) ChangeIcon(iconBeforeAnimation);
    iconBeforeAnimation = nullptr;
    // frameIndex and the frames stay; the next BeginAnimation resets the index.
    return result;
}
