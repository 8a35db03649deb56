#include "setup/setup_main.h"

#include "setup/setup_dialog.h"
#include "setup/setup_ids.h"

int setup_main(HINSTANCE instance) {
    // The dialog's template is in the instance's resources. The platform's
    // modal loop is the program's only one; its result does not matter, the
    // program ends with the dialog.
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_SETUP), nullptr, setup_dialog_proc, 0);
    return 0;
}
