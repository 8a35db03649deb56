// The setup program's dialog resources as the Windows model sees them: on
// Windows the resource compiler puts template 100 and bitmap 1
// (resources/zqsetup.rc) into the executable; here the same controls, in
// template order, with their initial texts and visibility, and the bitmap's
// size.
#include "tests/support/setup_resources.h"

#include "setup/setup_ids.h"
#include "tests/winmodel/dialog.h"

static const HostControlTemplate setup_controls[] = {
    {IDC_OK, host_push_button, "OK", true},         {IDC_EXIT, host_push_button, "", true},
    {IDC_TITLE, host_static_text, "", true},        {IDC_PICTURE, host_picture, "#1", true},
    {IDC_TARGET_LABEL, host_static_text, "", true}, {IDC_TARGET, host_edit_box, "", true},
    {IDC_BROWSE, host_push_button, "...", true},    {IDC_LANGUAGE_GROUP, host_group_box, "", true},
    {IDC_GERMAN, host_check_box, "Deutsch", true},  {IDC_ENGLISH, host_check_box, "English", true},
    {IDC_ADDITIONAL, host_check_box, "", true},     {IDC_START_MENU, host_check_box, "", true},
    {IDC_DESKTOP, host_check_box, "", true},        {IDC_PROGRESS, host_static_text, "", false},
};

static const HostDialogTemplate dialog_templates[] = {
    {IDD_SETUP, 330, 237, setup_controls, int(sizeof setup_controls / sizeof setup_controls[0])},
};

// The product picture: 205 x 154 pixels, the size of its frame at 96 dpi.
static const HostBitmapResource bitmaps[] = {{IDB_PRODUCT, 205, 154}};

void load_setup_resources() {
    host_set_dialog_templates(dialog_templates,
                              int(sizeof dialog_templates / sizeof dialog_templates[0]));
    host_set_bitmap_resources(bitmaps, int(sizeof bitmaps / sizeof bitmaps[0]));
}
