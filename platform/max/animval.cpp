#include "platform/max/animval.h"

namespace {
BOOL animateMode = FALSE;
}

void AnimateOn() {
    animateMode = TRUE;
}
void AnimateOff() {
    animateMode = FALSE;
}
BOOL Animating() {
    return animateMode;
}

AnimateSuspend::AnimateSuspend() : was_(animateMode) {
    animateMode = FALSE;
}
AnimateSuspend::~AnimateSuspend() {
    animateMode = was_;
}
