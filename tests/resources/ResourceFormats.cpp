#include "ResourceFormats.h"

#include <algorithm>

namespace pe {

namespace {

size_t AlignDword(size_t offset) {
    return (offset + 3) & ~size_t(3);
}

std::string Utf16zAt(const ByteView& view, size_t* offset) {
    return ToUtf8(view.Utf16z(*offset, offset));
}

// A menu, class or title field: 0x0000 absent, 0xFFFF then an ordinal, else a string.
SzOrOrd ReadSzOrOrd(const ByteView& view, size_t* offset) {
    SzOrOrd field;
    const uint16_t first = view.U16(*offset);
    if (first == 0) {
        *offset += 2;
    } else if (first == 0xFFFF) {
        field.kind = SzOrOrd::Ordinal;
        field.ordinal = view.U16(*offset + 2);
        *offset += 4;
    } else {
        field.kind = SzOrOrd::String;
        field.text = Utf16zAt(view, offset);
    }
    return field;
}

} // namespace

DialogTemplate DecodeDialog(const std::vector<uint8_t>& data) {
    const ByteView view(data);
    DialogTemplate dlg;
    size_t at = 0;
    uint16_t count = 0;
    if (view.U16(2) == 0xFFFF) {
        dlg.extended = true;
        dlg.version = view.U16(0);
        dlg.helpId = view.U32(4);
        dlg.exStyle = view.U32(8);
        dlg.style = view.U32(12);
        count = view.U16(16);
        at = 18;
    } else {
        dlg.style = view.U32(0);
        dlg.exStyle = view.U32(4);
        count = view.U16(8);
        at = 10;
    }
    dlg.x = static_cast<int16_t>(view.U16(at));
    dlg.y = static_cast<int16_t>(view.U16(at + 2));
    dlg.cx = static_cast<int16_t>(view.U16(at + 4));
    dlg.cy = static_cast<int16_t>(view.U16(at + 6));
    at += 8;
    dlg.menu = ReadSzOrOrd(view, &at);
    dlg.windowClass = ReadSzOrOrd(view, &at);
    dlg.title = Utf16zAt(view, &at);
    // The font fields are present exactly when the style has DS_SETFONT (or DS_SHELLFONT).
    if (dlg.style & 0x40) {
        dlg.hasFont = true;
        dlg.pointSize = view.U16(at);
        at += 2;
        if (dlg.extended) {
            dlg.weight = view.U16(at);
            dlg.italic = view.U8(at + 2);
            dlg.charset = view.U8(at + 3);
            at += 4;
        }
        dlg.typeface = Utf16zAt(view, &at);
    }

    for (uint16_t i = 0; i < count; ++i) {
        at = AlignDword(at);
        DialogItem item;
        if (dlg.extended) {
            item.helpId = view.U32(at);
            item.exStyle = view.U32(at + 4);
            item.style = view.U32(at + 8);
            at += 12;
        } else {
            item.style = view.U32(at);
            item.exStyle = view.U32(at + 4);
            at += 8;
        }
        item.x = static_cast<int16_t>(view.U16(at));
        item.y = static_cast<int16_t>(view.U16(at + 2));
        item.cx = static_cast<int16_t>(view.U16(at + 4));
        item.cy = static_cast<int16_t>(view.U16(at + 6));
        at += 8;
        if (dlg.extended) {
            item.id = static_cast<int32_t>(view.U32(at));
            at += 4;
        } else {
            item.id = static_cast<int16_t>(view.U16(at));
            at += 2;
        }
        item.windowClass = ReadSzOrOrd(view, &at);
        item.title = ReadSzOrOrd(view, &at);
        const uint16_t extra = view.U16(at);
        at += 2;
        const ByteView creation = view.Sub(at, extra);
        item.creationData.assign(creation.data(), creation.data() + creation.size());
        at += extra;
        dlg.items.push_back(std::move(item));
    }
    return dlg;
}

std::vector<std::string> DecodeStringBlock(const std::vector<uint8_t>& data) {
    const ByteView view(data);
    std::vector<std::string> strings;
    size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        const uint16_t length = view.U16(at);
        at += 2;
        std::u16string text;
        for (uint16_t c = 0; c < length; ++c, at += 2)
            text += static_cast<char16_t>(view.U16(at));
        strings.push_back(ToUtf8(text));
    }
    if (AlignDword(at) < data.size())
        throw FormatError("string block has " + std::to_string(data.size() - at) +
                          " bytes after its 16 strings");
    return strings;
}

namespace {

// wLength, wValueLength, wType, szKey, padding, value, padding, children.
VersionNode DecodeVersionNode(const ByteView& view, size_t depth) {
    if (depth > 8)
        throw FormatError("version record nested too deeply");
    VersionNode node;
    const uint16_t length = view.U16(0);
    if (length < 6 || length > view.size())
        throw FormatError("version node length " + std::to_string(length) + " does not fit");
    const ByteView self = view.Sub(0, length);
    node.valueLength = self.U16(2);
    node.type = self.U16(4);
    size_t at = 6;
    node.key = Utf16zAt(self, &at);
    at = AlignDword(at);
    // Text values count UTF-16 units, binary values bytes.
    const size_t valueBytes = node.type == 1 ? size_t(node.valueLength) * 2 : node.valueLength;
    const ByteView value = self.Sub(std::min(at, size_t(length)), valueBytes);
    node.value.assign(value.data(), value.data() + value.size());
    if (node.type == 1) {
        std::u16string text;
        for (size_t i = 0; i + 1 < value.size(); i += 2) {
            const char16_t ch = value.U16(i);
            if (!ch)
                break;
            text += ch;
        }
        node.text = ToUtf8(text);
    }
    at = AlignDword(at + valueBytes);
    while (at < length) {
        VersionNode child = DecodeVersionNode(self.Sub(at, length - at), depth + 1);
        const uint16_t childLength = self.U16(at);
        node.children.push_back(std::move(child));
        at = AlignDword(at + childLength);
    }
    return node;
}

} // namespace

VersionNode DecodeVersion(const std::vector<uint8_t>& data) {
    return DecodeVersionNode(ByteView(data), 0);
}

FixedFileInfo DecodeFixedFileInfo(const VersionNode& root) {
    if (root.value.size() != 52)
        throw FormatError("fixed version part has " + std::to_string(root.value.size()) +
                          " bytes, not 52");
    const ByteView v(root.value);
    FixedFileInfo info;
    info.signature = v.U32(0);
    info.structVersion = v.U32(4);
    info.fileVersionMS = v.U32(8);
    info.fileVersionLS = v.U32(12);
    info.productVersionMS = v.U32(16);
    info.productVersionLS = v.U32(20);
    info.fileFlagsMask = v.U32(24);
    info.fileFlags = v.U32(28);
    info.fileOS = v.U32(32);
    info.fileType = v.U32(36);
    info.fileSubtype = v.U32(40);
    info.fileDateMS = v.U32(44);
    info.fileDateLS = v.U32(48);
    return info;
}

GroupIcon DecodeGroupIcon(const std::vector<uint8_t>& data) {
    const ByteView view(data);
    GroupIcon group;
    group.reserved = view.U16(0);
    group.type = view.U16(2);
    const uint16_t count = view.U16(4);
    for (uint16_t i = 0; i < count; ++i) {
        const size_t at = 6 + size_t(i) * 14;
        GroupIconEntry e;
        e.width = view.U8(at);
        e.height = view.U8(at + 1);
        e.colorCount = view.U8(at + 2);
        e.reserved = view.U8(at + 3);
        e.planes = view.U16(at + 4);
        e.bitCount = view.U16(at + 6);
        e.bytesInRes = view.U32(at + 8);
        e.id = view.U16(at + 12);
        group.entries.push_back(e);
    }
    return group;
}

IconImageHeader DecodeIconImage(const std::vector<uint8_t>& data) {
    const ByteView view(data);
    if (view.U32(0) == 0x474E5089)
        throw FormatError("icon image is PNG, not a DIB");
    IconImageHeader h;
    h.size = view.U32(0);
    h.width = static_cast<int32_t>(view.U32(4));
    h.height = static_cast<int32_t>(view.U32(8));
    h.planes = view.U16(12);
    h.bitCount = view.U16(14);
    h.compression = view.U32(16);
    return h;
}

} // namespace pe
