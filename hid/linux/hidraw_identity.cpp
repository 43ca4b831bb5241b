#include "hid/linux/hidraw_identity.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "platform/debug_log.h"

namespace {

constexpr char kIdKey[] = "HID_ID=";
constexpr size_t kUeventMaxSize = 16384;  // sysfs files are one page; this leaves room

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Parses 1 to 8 hex digits at text and stops at the first other character.
bool parseHexField(const char*& text, uint32_t& value) {
    value = 0;
    int digits = 0;
    for (int d; (d = hexDigit(*text)) >= 0; ++text) {
        if (++digits > 8) {
            return false;
        }
        value = value << 4 | uint32_t(d);
    }
    return digits > 0;
}

bool parseIdValue(const char* text, uint32_t& vendor, uint32_t& product) {
    uint32_t bus, v, p;
    if (!parseHexField(text, bus) || *text++ != ':' || !parseHexField(text, v) || *text++ != ':' ||
        !parseHexField(text, p)) {
        return false;
    }
    if (*text != '\0' && *text != '\n') {
        return false;
    }
    vendor = v;
    product = p;
    return true;
}

bool readSmallFile(const std::string& path, std::string& text) {
    FILE* file = fopen(path.c_str(), "re");
    if (!file) {
        return false;
    }
    text.resize(kUeventMaxSize);
    const size_t n = fread(&text[0], 1, text.size() - 1, file);
    const bool ok = !ferror(file);
    fclose(file);
    text.resize(n);
    return ok;
}

}  // namespace

bool HidParseUeventId(const char* ueventText, uint32_t& vendor, uint32_t& product) {
    if (!ueventText) {
        return false;
    }
    for (const char* line = ueventText; *line;) {
        if (strncmp(line, kIdKey, sizeof kIdKey - 1) == 0) {
            return parseIdValue(line + sizeof kIdKey - 1, vendor, product);
        }
        const char* end = strchr(line, '\n');
        if (!end) {
            break;
        }
        line = end + 1;
    }
    return false;
}

std::string HidHidrawPath(const char* node, uint32_t vendor, uint32_t product) {
    char ids[32];
    snprintf(ids, sizeof ids, "#vid_%04x&pid_%04x", unsigned(vendor), unsigned(product));
    return std::string(node) + ids;
}

bool HidHidrawEnumerate(const std::string& sysfsClassDir, const std::string& devDir,
                        std::vector<std::string>& paths) {
    paths.clear();
    DIR* dir = opendir(sysfsClassDir.c_str());
    if (!dir) {
        if (errno == ENOENT) {
            return true;  // the hidraw driver is not loaded: no devices
        }
        DebugLog("HID: cannot list %s (errno %d)\n", sysfsClassDir.c_str(), errno);
        return false;
    }
    std::string text;
    while (const dirent* entry = readdir(dir)) {
        if (strncmp(entry->d_name, "hidraw", 6) != 0) {
            continue;
        }
        const std::string uevent = sysfsClassDir + "/" + entry->d_name + "/device/uevent";
        uint32_t vendor = 0, product = 0;
        if (!readSmallFile(uevent, text)) {
            // Usually a device unplugged during the scan.
            DebugLog("HID: cannot read %s (errno %d)\n", uevent.c_str(), errno);
            continue;
        }
        if (!HidParseUeventId(text.c_str(), vendor, product)) {
            DebugLog("HID: no usable HID_ID in %s\n", uevent.c_str());
            continue;
        }
        paths.push_back(HidHidrawPath((devDir + "/" + entry->d_name).c_str(), vendor, product));
    }
    closedir(dir);
    std::sort(paths.begin(), paths.end());
    return true;
}
