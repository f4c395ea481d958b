// voxcap_deskcap_wine_tests [no-device | leak-check]: runs the shipped DLLs, from this program's
// folder, on a real implementation of the Windows API. Without arguments it expects a screen and
// the test tone on the default recording device (see env.sh); "no-device" checks the machine
// without one; "leak-check" checks that the leak checks catch leaks made on purpose.
#include "audio_checks.h"
#include "check.h"
#include "libraries.h"
#include "screen_checks.h"

#include <cstring>

int main(int argc, char** argv) {
    bool noDevice = argc > 1 && std::strcmp(argv[1], "no-device") == 0;
    bool leakCheck = argc > 1 && std::strcmp(argv[1], "leak-check") == 0;
    Voxcap voxcap;
    if (check(voxcap.load(), "Voxcap.dll loads and exports its three functions")) {
        if (leakCheck) {
            leakCheckChecks(voxcap);
            return report();
        }
        if (noDevice) {
            noDeviceChecks(voxcap);
        } else {
            recordingChecks(voxcap);
            lifecycleChecks(voxcap);
            busyChecks(voxcap);
            handleChecks(voxcap);
            deadHandleChecks(voxcap);
        }
    }
    Deskcap deskcap;
    if (!noDevice && check(deskcap.load(), "Deskcap.dll loads and exports its function")) screenChecks(deskcap);
    StackRecord stack = stackRecord();
    if (kStackChecked)
        check(stack.calls > 0 && stack.moved == 0, "every call leaves the stack pointer where it was (__stdcall)",
              "%ld of %ld calls moved it", stack.moved, stack.calls);
    return report();
}
