#include "platform/win32_api.h"

std::vector<HostMessageBox> &host_message_boxes() {
    static std::vector<HostMessageBox> boxes;
    return boxes;
}

std::vector<std::pair<int, std::string>> &host_control_text_log() {
    static std::vector<std::pair<int, std::string>> log;
    return log;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    host_message_boxes().push_back({text ? text : "", caption ? caption : "", type});
    return IDOK;
}

BOOL SetDlgItemTextA(HWND, int id, LPCSTR text) {
    host_control_text_log().emplace_back(id, text ? text : "");
    return TRUE;
}
