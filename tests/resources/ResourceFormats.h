// Decoders for the resource formats the program carries: dialog templates (classic and
// extended), string-table blocks, the version record and icon groups. Strings come out as
// UTF-8. Malformed data throws pe::FormatError.
#pragma once

#include "PeImage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

// A template field that is either absent, a 16-bit ordinal or a string.
struct SzOrOrd {
    enum Kind { None, Ordinal, String } kind = None;
    uint16_t ordinal = 0;
    std::string text;
};

struct DialogItem {
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0; // sign-extended: -1 in either template kind
    SzOrOrd windowClass;
    SzOrOrd title;
    std::vector<uint8_t> creationData;
};

struct DialogTemplate {
    bool extended = false;
    uint16_t version = 0; // extended only
    uint32_t helpId = 0;  // extended only
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    SzOrOrd menu;
    SzOrOrd windowClass;
    std::string title;
    bool hasFont = false;
    uint16_t pointSize = 0;
    uint16_t weight = 0; // extended only
    uint8_t italic = 0;  // extended only
    uint8_t charset = 0; // extended only
    std::string typeface;
    std::vector<DialogItem> items;
};

DialogTemplate DecodeDialog(const std::vector<uint8_t>& data);

// The 16 strings of one string-table block (ids (block - 1) * 16 to block * 16 - 1).
std::vector<std::string> DecodeStringBlock(const std::vector<uint8_t>& data);

// One node of the version record's tree.
struct VersionNode {
    std::string key;
    uint16_t type = 0; // 1 text, 0 binary
    uint16_t valueLength = 0;
    std::vector<uint8_t> value; // the raw value bytes
    std::string text;           // the value as text up to its terminator, for type 1
    std::vector<VersionNode> children;
};

struct FixedFileInfo {
    uint32_t signature = 0;
    uint32_t structVersion = 0;
    uint32_t fileVersionMS = 0, fileVersionLS = 0;
    uint32_t productVersionMS = 0, productVersionLS = 0;
    uint32_t fileFlagsMask = 0, fileFlags = 0;
    uint32_t fileOS = 0, fileType = 0, fileSubtype = 0;
    uint32_t fileDateMS = 0, fileDateLS = 0;
};

VersionNode DecodeVersion(const std::vector<uint8_t>& data);
FixedFileInfo DecodeFixedFileInfo(const VersionNode& root);

struct GroupIconEntry {
    uint8_t width = 0, height = 0, colorCount = 0, reserved = 0;
    uint16_t planes = 0, bitCount = 0;
    uint32_t bytesInRes = 0;
    uint16_t id = 0;
};

struct GroupIcon {
    uint16_t reserved = 0, type = 0;
    std::vector<GroupIconEntry> entries;
};

GroupIcon DecodeGroupIcon(const std::vector<uint8_t>& data);

// The header of an icon image stored as a DIB (not PNG).
struct IconImageHeader {
    uint32_t size = 0;
    int32_t width = 0, height = 0; // height counts the XOR and AND masks together
    uint16_t planes = 0, bitCount = 0;
    uint32_t compression = 0;
};

IconImageHeader DecodeIconImage(const std::vector<uint8_t>& data);

} // namespace pe
