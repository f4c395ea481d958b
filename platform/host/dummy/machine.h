// Internals shared by the parts of the simulated machine.
#pragma once

#include "control.h"

namespace dummy {

// True when a failure of `call` was scripted for this very call; *code receives its code.
bool take_failure(Call call, uint32_t* code = nullptr);

void reset_failures();
void reset_microphone();
void reset_screen();

}  // namespace dummy
