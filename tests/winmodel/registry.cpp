// The Windows model of the registry and of private-profile (INI) files.
//
// Registry: keys under the two roots the setup uses, found by their path
// ignoring case, each with named values of a type and raw data. Opened keys
// remember their access, so reading through a write-only handle fails as on
// Windows. Missing rights on the machine branch can be modelled.
//
// INI files are real files under the drive root, read and rewritten whole on
// every call, with Windows' rules: sections and keys match ignoring case,
// blanks around keys and values do not count, a value in matching quotes
// loses them, and a value longer than the buffer is cut to size - 1.
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/host/host_files.h"
#include "tests/winmodel/registry.h"

namespace {

struct RegistryValue {
    DWORD type;
    std::string data;
};

struct OpenKey {
    std::string path;
    REGSAM access;
    bool open;
};

struct RegistryState {
    // Full key path in lower case ("hkcu\software\...") -> values by lower-case name.
    std::map<std::string, std::map<std::string, RegistryValue>> keys;
    std::vector<OpenKey> handles;
    bool deny_machine_writes = false;
};

RegistryState &state() {
    static RegistryState s;
    return s;
}

std::string lower(std::string text) {
    for (char &c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The full lower-case path of a key below a root or an open key; empty for a
// handle that is neither.
std::string key_path(HKEY root, const char *sub_key) {
    std::string base;
    if (root == HKEY_CURRENT_USER)
        base = "hkcu";
    else if (root == HKEY_LOCAL_MACHINE)
        base = "hklm";
    else {
        uintptr_t n = reinterpret_cast<uintptr_t>(root);
        if (n == 0 || n > state().handles.size() || !state().handles[n - 1].open)
            return std::string();
        base = state().handles[n - 1].path;
    }
    std::string path = base;
    std::string part;
    for (const char *p = sub_key ? sub_key : "";; ++p) {
        if (*p == '\\' || *p == 0) {
            if (!part.empty())
                path += "\\" + lower(part);
            part.clear();
            if (*p == 0)
                break;
        } else {
            part += *p;
        }
    }
    return path;
}

bool is_machine_key(const std::string &path) {
    return path.compare(0, 4, "hklm") == 0;
}

HKEY open_handle(const std::string &path, REGSAM access) {
    state().handles.push_back({path, access, true});
    return reinterpret_cast<HKEY>(uintptr_t(state().handles.size()));
}

OpenKey *handle_of(HKEY key) {
    uintptr_t n = reinterpret_cast<uintptr_t>(key);
    if (n == 0 || n > state().handles.size() || !state().handles[n - 1].open)
        return nullptr;
    return &state().handles[n - 1];
}

bool wants_write(REGSAM access) {
    return (access & KEY_SET_VALUE) != 0;
}

} // namespace

void host_reset_registry() {
    state() = RegistryState();
}

LONG RegOpenKeyExA(HKEY root, LPCSTR sub_key, DWORD, REGSAM access, PHKEY result) {
    std::string path = key_path(root, sub_key);
    if (path.empty() || !result)
        return 6; // ERROR_INVALID_HANDLE
    if (!state().keys.count(path))
        return ERROR_FILE_NOT_FOUND;
    if (is_machine_key(path) && wants_write(access) && state().deny_machine_writes)
        return ERROR_ACCESS_DENIED;
    *result = open_handle(path, access);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY root, LPCSTR sub_key, DWORD, LPSTR, DWORD, REGSAM access,
                     LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
    std::string path = key_path(root, sub_key);
    if (path.empty() || !result)
        return 6;
    if (is_machine_key(path) && state().deny_machine_writes)
        return ERROR_ACCESS_DENIED;
    bool existed = state().keys.count(path) != 0;
    // Every level of the path exists once the key does.
    for (size_t at = path.find('\\'); at != std::string::npos; at = path.find('\\', at + 1))
        state().keys[path.substr(0, at)];
    state().keys[path];
    if (disposition)
        *disposition = existed ? 2 : 1; // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    *result = open_handle(path, access);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    OpenKey *handle = handle_of(key);
    if (!handle)
        return 6;
    if (!(handle->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    const std::map<std::string, RegistryValue> &values = state().keys[handle->path];
    auto found = values.find(lower(name ? name : ""));
    if (found == values.end())
        return ERROR_FILE_NOT_FOUND;
    const RegistryValue &value = found->second;
    if (type)
        *type = value.type;
    if (data && !size)
        return 87; // ERROR_INVALID_PARAMETER
    if (!size)
        return ERROR_SUCCESS;
    DWORD room = *size;
    *size = DWORD(value.data.size());
    if (!data)
        return ERROR_SUCCESS;
    if (room < value.data.size())
        return ERROR_MORE_DATA;
    memcpy(data, value.data.data(), value.data.size());
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, LPCSTR name, DWORD, DWORD type, const BYTE *data, DWORD size) {
    OpenKey *handle = handle_of(key);
    if (!handle)
        return 6;
    if (!wants_write(handle->access))
        return ERROR_ACCESS_DENIED;
    RegistryValue value = {type,
                           std::string(reinterpret_cast<const char *>(data), data ? size : 0)};
    state().keys[handle->path][lower(name ? name : "")] = value;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    OpenKey *handle = handle_of(key);
    if (!handle)
        return 6;
    handle->open = false;
    return ERROR_SUCCESS;
}

void host_registry_set(HKEY root, const char *key, const char *name, const char *value) {
    HKEY handle = nullptr;
    bool deny = state().deny_machine_writes;
    state().deny_machine_writes = false;
    RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    state().deny_machine_writes = deny;
    std::string text = value ? value : "";
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                   DWORD(text.size() + 1));
    RegCloseKey(handle);
}

bool host_registry_get_raw(HKEY root, const char *key, const char *name, DWORD *type,
                           std::string *data) {
    auto found_key = state().keys.find(key_path(root, key));
    if (found_key == state().keys.end())
        return false;
    auto found = found_key->second.find(lower(name ? name : ""));
    if (found == found_key->second.end())
        return false;
    *type = found->second.type;
    *data = found->second.data;
    return true;
}

bool host_registry_get(HKEY root, const char *key, const char *name, std::string *value) {
    DWORD type = 0;
    std::string data;
    if (!host_registry_get_raw(root, key, name, &type, &data))
        return false;
    if (value)
        *value = data.substr(0, data.find('\0'));
    return true;
}

bool host_registry_key_exists(HKEY root, const char *key) {
    return state().keys.count(key_path(root, key)) != 0;
}

void host_registry_deny_machine_writes(bool deny) {
    state().deny_machine_writes = deny;
}

// ---- INI files ----

namespace {

std::string trim(const std::string &text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool read_lines(const char *file, std::vector<std::string> *lines) {
    std::ifstream in(host_path(file), std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines->push_back(line);
    }
    return true;
}

// The section name of a "[name]" line, or false for any other line.
bool section_line(const std::string &line, std::string *name) {
    std::string t = trim(line);
    if (t.empty() || t[0] != '[')
        return false;
    size_t close = t.find(']');
    *name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

// The key and value of a "key=value" line.
bool key_line(const std::string &line, std::string *key, std::string *value) {
    std::string t = trim(line);
    size_t equals = t.find('=');
    if (t.empty() || t[0] == ';' || equals == std::string::npos)
        return false;
    *key = trim(t.substr(0, equals));
    *value = trim(t.substr(equals + 1));
    return true;
}

// The range of lines [first, end) after the header of a section, or false.
bool find_section(const std::vector<std::string> &lines, const char *section, size_t *first,
                  size_t *end) {
    std::string name;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!section_line(lines[i], &name) || lower(name) != lower(section))
            continue;
        size_t j = i + 1;
        while (j < lines.size() && !section_line(lines[j], &name))
            ++j;
        *first = i + 1;
        *end = j;
        return true;
    }
    return false;
}

// The line index of a key within [first, end), or end.
size_t find_key(const std::vector<std::string> &lines, size_t first, size_t end, const char *key) {
    std::string name, value;
    for (size_t i = first; i < end; ++i)
        if (key_line(lines[i], &name, &value) && lower(name) == lower(key))
            return i;
    return end;
}

} // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR value,
                               DWORD size, LPCSTR file) {
    if (!value || size == 0)
        return 0;
    std::string result = default_value ? default_value : "";
    result = result.substr(0, result.find_last_not_of(' ') + 1);
    std::vector<std::string> lines;
    size_t first = 0, end = 0;
    if (section && key && read_lines(file, &lines) && find_section(lines, section, &first, &end)) {
        size_t at = find_key(lines, first, end, key);
        std::string name;
        if (at < end && key_line(lines[at], &name, &result) && result.size() >= 2 &&
            (result[0] == '"' || result[0] == '\'') && result.back() == result[0])
            result = result.substr(1, result.size() - 2);
    }
    size_t n = result.size() < size - 1 ? result.size() : size - 1;
    memcpy(value, result.data(), n);
    value[n] = 0;
    return DWORD(n);
}

BOOL WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file) {
    if (!section || !file)
        return FALSE;
    std::vector<std::string> lines;
    read_lines(file, &lines);
    size_t first = 0, end = 0;
    if (!find_section(lines, section, &first, &end)) {
        if (!key || !value)
            return TRUE; // nothing to delete
        lines.push_back(std::string("[") + section + "]");
        first = end = lines.size();
    }
    if (!key) {
        lines.erase(lines.begin() + long(first) - 1, lines.begin() + long(end));
    } else {
        size_t at = find_key(lines, first, end, key);
        if (at < end && !value) {
            lines.erase(lines.begin() + long(at));
        } else if (at < end) {
            std::string name, old;
            key_line(lines[at], &name, &old);
            lines[at] = name + "=" + value;
        } else if (value) {
            // After the section's last non-empty line.
            size_t insert = end;
            while (insert > first && trim(lines[insert - 1]).empty())
                --insert;
            lines.insert(lines.begin() + long(insert), std::string(key) + "=" + value);
        }
    }
    std::ostringstream text;
    for (const std::string &line : lines)
        text << line << "\r\n";
    std::ofstream out(host_path(file), std::ios::binary | std::ios::trunc);
    if (!out) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    out << text.str();
    return out.good() ? TRUE : FALSE;
}
