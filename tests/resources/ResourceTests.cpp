// Reads the built executables as data and checks every resource the program must carry,
// field by field, in both the 32-bit release and the 64-bit test build.
#include "Executables.h"
#include "PeImage.h"
#include "ResourceFormats.h"
#include "Xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <tuple>

namespace {

using pe::PeImage;
using pe::Resource;

constexpr uint16_t RT_ICON_ = 3;
constexpr uint16_t RT_DIALOG_ = 5;
constexpr uint16_t RT_STRING_ = 6;
constexpr uint16_t RT_GROUP_ICON_ = 14;
constexpr uint16_t RT_VERSION_ = 16;
constexpr uint16_t RT_MANIFEST_ = 24;

constexpr uint16_t kEnglishUs = 0x0409;
constexpr uint16_t kChinesePrc = 0x0804;

constexpr uint16_t kButton = 0x0080;
constexpr uint16_t kEdit = 0x0081;
constexpr uint16_t kStatic = 0x0082;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

// Position and size in dialog units.
std::tuple<int, int, int, int> Box(int x, int y, int cx, int cy) {
    return {x, y, cx, cy};
}

// What differs between the two builds.
struct Build {
    const char* name;
    std::string ExecutablePaths::*path;
    const char* source; // where the path comes from, for the failure message
    uint16_t machine;
    uint16_t magic;
    const char* identityArch; // the program's own assembly identity
    const char* comctlArch;   // the common-controls dependency
};

const Build kRelease32{"Release32",
                       &ExecutablePaths::release32,
                       "argument 1 or CLIPMEND_EXE32",
                       pe::kMachineI386,
                       pe::kMagicPe32,
                       "X86",
                       "x86"};
const Build kTest64{"Test64",
                    &ExecutablePaths::test64,
                    "argument 2 or CLIPMEND_EXE64",
                    pe::kMachineAmd64,
                    pe::kMagicPe32Plus,
                    "amd64",
                    "amd64"};

// Each file is read once; a failure to read it fails every test that needs it.
const PeImage* LoadBuild(const Build& build, std::string* error) {
    struct Loaded {
        std::unique_ptr<PeImage> image;
        std::string error;
    };
    static std::map<const Build*, Loaded> cache;
    auto [it, inserted] = cache.try_emplace(&build);
    if (inserted) {
        const std::string& path = Executables().*build.path;
        if (path.empty()) {
            it->second.error =
                std::string("no path for the ") + build.name + " executable (" + build.source + ")";
        } else if (!std::ifstream(path, std::ios::binary)) {
            it->second.error = std::string(build.name) + " executable missing: " + path;
        } else {
            try {
                it->second.image = std::make_unique<PeImage>(PeImage::FromFile(path));
            } catch (const std::exception& e) {
                it->second.error = e.what();
            }
        }
    }
    *error = it->second.error;
    return it->second.image.get();
}

class BuildTest : public ::testing::TestWithParam<const Build*> {
protected:
    void SetUp() override {
        std::string error;
        m_image = LoadBuild(*GetParam(), &error);
        ASSERT_NE(m_image, nullptr) << error;
    }

    // The one resource of this type and id; nullptr (with a failure) when there is none or
    // more than one.
    const Resource* Find(uint16_t type, uint16_t id) const {
        const Resource* found = nullptr;
        for (const Resource* r : m_image->OfType(type)) {
            if (!r->name.isId || r->name.id != id)
                continue;
            if (found) {
                ADD_FAILURE() << "resource type " << type << " id " << id << " is stored twice";
                return nullptr;
            }
            found = r;
        }
        if (!found)
            ADD_FAILURE() << "no resource of type " << type << " with id " << id;
        return found;
    }

    const PeImage* m_image = nullptr;
};

std::string BuildName(const ::testing::TestParamInfo<const Build*>& info) {
    return info.param->name;
}

// --- Inventory -----------------------------------------------------------------------------

TEST_P(BuildTest, CarriesExactlyTheProgramsResourcesInTheirLanguages) {
    // (type, id, language) of every resource; names would show up as id 0 and fail.
    std::multiset<std::tuple<uint16_t, uint16_t, uint16_t>> actual;
    for (const Resource& r : m_image->Resources()) {
        EXPECT_TRUE(r.type.isId) << "resource type given by name: " << pe::ToUtf8(r.type.name);
        EXPECT_TRUE(r.name.isId) << "resource named by string: " << pe::ToUtf8(r.name.name);
        actual.emplace(r.type.id, r.name.id, r.language);
    }
    const std::multiset<std::tuple<uint16_t, uint16_t, uint16_t>> expected{
        {RT_ICON_, 1, kChinesePrc},             // the one image of the icon group
        {RT_GROUP_ICON_, 128, kChinesePrc},     // IDR_MAINFRAME
        {RT_DIALOG_, 100, kEnglishUs},          // IDD_ABOUTBOX
        {RT_DIALOG_, 102, kEnglishUs},          // IDD_MAIN
        {RT_STRING_, 101 / 16 + 1, kEnglishUs}, // the block holding IDS_ABOUTBOX
        {RT_VERSION_, 1, kEnglishUs},
        {RT_MANIFEST_, 1, kEnglishUs},
    };
    EXPECT_EQ(actual, expected);
}

// --- Dialog templates ----------------------------------------------------------------------

struct ExpectedItem {
    int32_t id;
    uint16_t windowClass;
    const char* text;      // nullptr: the title is an ordinal
    uint16_t titleOrdinal; // used when text is nullptr
    uint32_t style;
    int16_t x, y, cx, cy;
};

void ExpectItems(const pe::DialogTemplate& dlg, const std::vector<ExpectedItem>& expected) {
    ASSERT_EQ(dlg.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const pe::DialogItem& item = dlg.items[i];
        const ExpectedItem& want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.windowClass.kind, pe::SzOrOrd::Ordinal);
        EXPECT_EQ(Hex(item.windowClass.ordinal), Hex(want.windowClass));
        if (want.text) {
            EXPECT_EQ(item.title.kind == pe::SzOrOrd::Ordinal, false);
            EXPECT_EQ(item.title.text, want.text);
        } else {
            EXPECT_EQ(item.title.kind, pe::SzOrOrd::Ordinal);
            EXPECT_EQ(item.title.ordinal, want.titleOrdinal);
        }
        EXPECT_EQ(Hex(item.style), Hex(want.style));
        EXPECT_EQ(Hex(item.exStyle), Hex(0));
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(Box(item.x, item.y, item.cx, item.cy), Box(want.x, want.y, want.cx, want.cy));
        EXPECT_TRUE(item.creationData.empty());
    }
}

TEST_P(BuildTest, MainDialogIsTheExtendedTemplateAsSpecified) {
    const Resource* res = Find(RT_DIALOG_, 102);
    ASSERT_NE(res, nullptr);
    const pe::DialogTemplate dlg = pe::DecodeDialog(res->data);

    EXPECT_TRUE(dlg.extended);
    EXPECT_EQ(dlg.version, 1);
    EXPECT_EQ(dlg.helpId, 0u);
    EXPECT_EQ(Hex(dlg.style),
              Hex(0x90C800C0)); // popup, visible, caption, sysmenu, modal frame, font
    EXPECT_EQ(Hex(dlg.exStyle), Hex(0x00040000)); // WS_EX_APPWINDOW
    EXPECT_EQ(Box(dlg.x, dlg.y, dlg.cx, dlg.cy), Box(0, 0, 361, 103));
    EXPECT_EQ(dlg.menu.kind, pe::SzOrOrd::None);
    EXPECT_EQ(dlg.windowClass.kind, pe::SzOrOrd::None);
    EXPECT_EQ(dlg.title, "Velmora Clipmend - ONE Click");
    ASSERT_TRUE(dlg.hasFont);
    EXPECT_EQ(dlg.pointSize, 8);
    EXPECT_EQ(dlg.typeface, "MS Sans Serif");
    EXPECT_EQ(dlg.weight, 0);
    EXPECT_EQ(dlg.italic, 0);
    EXPECT_EQ(dlg.charset, 1); // DEFAULT_CHARSET

    ExpectItems(dlg,
                {
                    // BS_DEFPUSHBUTTON | WS_TABSTOP
                    {1, kButton, "GO", 0, 0x50010001, 143, 64, 88, 30},
                    // BS_GROUPBOX
                    {-1, kButton, "Open a MP4 File to Fix", 0, 0x50000007, 7, 12, 345, 46},
                    // WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL
                    {1000, kEdit, "", 0, 0x50810080, 16, 29, 260, 15},
                    // BS_PUSHBUTTON | WS_TABSTOP
                    {1001, kButton, "OPEN", 0, 0x50010000, 283, 27, 60, 20},
                    // SS_LEFT | WS_GROUP
                    {1003, kStatic, "More iPod,MP4,Video Products", 0, 0x50020000, 14, 75, 115, 9},
                });
}

TEST_P(BuildTest, AboutBoxIsTheClassicTemplateAsSpecified) {
    const Resource* res = Find(RT_DIALOG_, 100);
    ASSERT_NE(res, nullptr);
    const pe::DialogTemplate dlg = pe::DecodeDialog(res->data);

    EXPECT_FALSE(dlg.extended);
    EXPECT_EQ(Hex(dlg.style), Hex(0x80C800C0)); // popup, caption, sysmenu, modal frame, font
    EXPECT_EQ(Hex(dlg.exStyle), Hex(0));
    EXPECT_EQ(Box(dlg.x, dlg.y, dlg.cx, dlg.cy), Box(0, 0, 235, 55));
    EXPECT_EQ(dlg.menu.kind, pe::SzOrOrd::None);
    EXPECT_EQ(dlg.windowClass.kind, pe::SzOrOrd::None);
    EXPECT_EQ(dlg.title, "About Velmora Clipmend");
    ASSERT_TRUE(dlg.hasFont);
    EXPECT_EQ(dlg.pointSize, 8);
    EXPECT_EQ(dlg.typeface, "MS Sans Serif");

    ASSERT_EQ(dlg.items.size(), 4u);
    // The notice's wording is ours; it must name the maker.
    const std::string notice = dlg.items[2].title.text;
    EXPECT_NE(notice.find("Velmora"), std::string::npos) << notice;
    ExpectItems(dlg, {
                         // SS_ICON showing icon 128
                         {-1, kStatic, nullptr, 128, 0x50000003, 11, 15, 20, 20},
                         // SS_LEFT | SS_NOPREFIX | WS_GROUP
                         {-1, kStatic, "Clipmend Version 1.1.2", 0, 0x50020080, 40, 12, 119, 8},
                         // SS_LEFT | WS_GROUP
                         {-1, kStatic, notice.c_str(), 0, 0x50020000, 40, 27, 182, 8},
                         // BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP
                         {1, kButton, "OK", 0, 0x50030001, 178, 7, 50, 14},
                     });
}

// --- String table --------------------------------------------------------------------------

TEST_P(BuildTest, StringTableHoldsOnlyTheAboutEntry) {
    const Resource* res = Find(RT_STRING_, 101 / 16 + 1);
    ASSERT_NE(res, nullptr);
    const std::vector<std::string> strings = pe::DecodeStringBlock(res->data);
    for (int i = 0; i < 16; ++i) {
        const int id = (101 / 16) * 16 + i;
        EXPECT_EQ(strings[i], id == 101 ? "&About Clipmend..." : "") << "string " << id;
    }
}

// --- Version record ------------------------------------------------------------------------

TEST_P(BuildTest, VersionRecordFixedPart) {
    const Resource* res = Find(RT_VERSION_, 1);
    ASSERT_NE(res, nullptr);
    const pe::VersionNode root = pe::DecodeVersion(res->data);
    EXPECT_EQ(root.key, "VS_VERSION_INFO");
    EXPECT_EQ(root.type, 0);
    const pe::FixedFileInfo info = pe::DecodeFixedFileInfo(root);
    EXPECT_EQ(Hex(info.signature), Hex(0xFEEF04BD));
    EXPECT_EQ(Hex(info.structVersion), Hex(0x00010000));
    // 1.0.0.1
    EXPECT_EQ(Hex(info.fileVersionMS), Hex(0x00010000));
    EXPECT_EQ(Hex(info.fileVersionLS), Hex(0x00000001));
    EXPECT_EQ(Hex(info.productVersionMS), Hex(0x00010000));
    EXPECT_EQ(Hex(info.productVersionLS), Hex(0x00000001));
    EXPECT_EQ(Hex(info.fileFlags & info.fileFlagsMask), Hex(0)); // not debug, prerelease, ...
    EXPECT_EQ(Hex(info.fileOS), Hex(0x00000004));                // VOS__WINDOWS32
    EXPECT_EQ(Hex(info.fileType), Hex(0x00000001));              // VFT_APP
    EXPECT_EQ(info.fileSubtype, 0u);
    EXPECT_EQ(info.fileDateMS, 0u);
    EXPECT_EQ(info.fileDateLS, 0u);
}

TEST_P(BuildTest, VersionRecordStringsInStoredOrderWithExactValues) {
    const Resource* res = Find(RT_VERSION_, 1);
    ASSERT_NE(res, nullptr);
    const pe::VersionNode root = pe::DecodeVersion(res->data);
    ASSERT_EQ(root.children.size(), 2u);

    const pe::VersionNode& stringInfo = root.children[0];
    EXPECT_EQ(stringInfo.key, "StringFileInfo");
    ASSERT_EQ(stringInfo.children.size(), 1u);
    const pe::VersionNode& table = stringInfo.children[0];
    // Language 0x0409, code page 0x04B0, as eight hex digits.
    std::string tableKey = table.key;
    std::transform(tableKey.begin(), tableKey.end(), tableKey.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(tableKey, "040904B0");

    const std::vector<std::pair<std::string, std::string>> expected{
        {"Comments", ""},
        {"CompanyName", ""},
        {"FileDescription", "Clipmend "},
        {"FileVersion", "1, 0, 0, 1"},
        {"InternalName", "Clipmend"},
        {"LegalCopyright", "*"}, // our wording, checked below
        {"LegalTrademarks", ""},
        {"OriginalFilename", "Clipmend.EXE"},
        {"PrivateBuild", ""},
        {"ProductName", "Clipmend "},
        {"ProductVersion", "1, 0, 0, 1"},
        {"SpecialBuild", ""},
    };
    ASSERT_EQ(table.children.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const pe::VersionNode& entry = table.children[i];
        SCOPED_TRACE("string " + std::to_string(i) + " " + expected[i].first);
        EXPECT_EQ(entry.key, expected[i].first);
        EXPECT_EQ(entry.type, 1);
        EXPECT_TRUE(entry.children.empty());
        if (expected[i].first == "LegalCopyright")
            EXPECT_NE(entry.text.find("Velmora"), std::string::npos) << entry.text;
        else
            EXPECT_EQ(entry.text, expected[i].second);
        // Nothing may hide after the terminator: the value is exactly the text.
        const size_t units = entry.value.size() / 2;
        EXPECT_LE(units, entry.text.size() + 1) << "stored value is longer than its text";
    }

    const pe::VersionNode& varInfo = root.children[1];
    EXPECT_EQ(varInfo.key, "VarFileInfo");
    ASSERT_EQ(varInfo.children.size(), 1u);
    const pe::VersionNode& translation = varInfo.children[0];
    EXPECT_EQ(translation.key, "Translation");
    EXPECT_EQ(translation.type, 0);
    const std::vector<uint8_t> translationValue{0x09, 0x04, 0xB0, 0x04};
    EXPECT_EQ(translation.value, translationValue); // 0x0409, 0x04B0
}

// --- Manifest ------------------------------------------------------------------------------

const xml::Element* OnlyChild(const xml::Element& parent, const char* name) {
    const auto found = parent.Children(name);
    if (found.size() != 1) {
        ADD_FAILURE() << "<" << parent.name << "> has " << found.size() << " <" << name
                      << "> children, not 1";
        return nullptr;
    }
    return found[0];
}

std::string Attr(const xml::Element& e, const char* name) {
    const std::string* value = e.Attribute(name);
    return value ? *value : "(absent)";
}

TEST_P(BuildTest, ManifestAsksForAdminCommonControls6AndUtf8ForThisArchitecture) {
    const Resource* res = Find(RT_MANIFEST_, 1);
    ASSERT_NE(res, nullptr);
    const std::string text(res->data.begin(), res->data.end());
    xml::Document doc;
    try {
        doc = xml::Parse(text);
    } catch (const xml::XmlError& e) {
        FAIL() << "manifest is not well-formed: " << e.what() << "\n" << text;
    }

    const auto decl = [&](const char* key) {
        for (const auto& [k, v] : doc.declaration) {
            if (k == key)
                return v;
        }
        return std::string("(absent)");
    };
    EXPECT_EQ(decl("version"), "1.0");
    std::string encoding = decl("encoding");
    std::transform(encoding.begin(), encoding.end(), encoding.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(encoding, "UTF-8");
    EXPECT_EQ(decl("standalone"), "yes");

    const xml::Element& assembly = doc.root;
    EXPECT_EQ(assembly.name, "assembly");
    EXPECT_EQ(assembly.namespace_, "urn:schemas-microsoft-com:asm.v1");
    EXPECT_EQ(Attr(assembly, "manifestVersion"), "1.0");

    const Build& build = *GetParam();
    if (const xml::Element* identity = OnlyChild(assembly, "assemblyIdentity")) {
        EXPECT_EQ(Attr(*identity, "version"), "1.0.0.0");
        EXPECT_EQ(Attr(*identity, "processorArchitecture"), build.identityArch);
        EXPECT_EQ(Attr(*identity, "type"), "win32");
        EXPECT_NE(Attr(*identity, "name"), "(absent)");
        EXPECT_NE(Attr(*identity, "name"), "");
    }

    if (const xml::Element* description = OnlyChild(assembly, "description"))
        EXPECT_EQ(description->text, "Test Application");

    const xml::Element* trust = OnlyChild(assembly, "trustInfo");
    ASSERT_NE(trust, nullptr);
    EXPECT_EQ(trust->namespace_, "urn:schemas-microsoft-com:asm.v3");
    const xml::Element* security = OnlyChild(*trust, "security");
    ASSERT_NE(security, nullptr);
    const xml::Element* privileges = OnlyChild(*security, "requestedPrivileges");
    ASSERT_NE(privileges, nullptr);
    const xml::Element* level = OnlyChild(*privileges, "requestedExecutionLevel");
    ASSERT_NE(level, nullptr);
    EXPECT_EQ(Attr(*level, "level"), "requireAdministrator");
    EXPECT_EQ(Attr(*level, "uiAccess"), "false");

    const xml::Element* dependency = OnlyChild(assembly, "dependency");
    ASSERT_NE(dependency, nullptr);
    const xml::Element* dependent = OnlyChild(*dependency, "dependentAssembly");
    ASSERT_NE(dependent, nullptr);
    const xml::Element* comctl = OnlyChild(*dependent, "assemblyIdentity");
    ASSERT_NE(comctl, nullptr);
    EXPECT_EQ(Attr(*comctl, "type"), "win32");
    EXPECT_EQ(Attr(*comctl, "name"), "Microsoft.Windows.Common-Controls");
    EXPECT_EQ(Attr(*comctl, "version"), "6.0.0.0");
    EXPECT_EQ(Attr(*comctl, "processorArchitecture"), build.comctlArch);
    EXPECT_EQ(Attr(*comctl, "publicKeyToken"), "6595b64144ccf1df");
    EXPECT_EQ(Attr(*comctl, "language"), "*");

    // The UTF-8 code page, so that every ANSI call of the process takes names in any script.
    const xml::Element* application = OnlyChild(assembly, "application");
    ASSERT_NE(application, nullptr);
    EXPECT_EQ(application->namespace_, "urn:schemas-microsoft-com:asm.v3");
    const xml::Element* settings = OnlyChild(*application, "windowsSettings");
    ASSERT_NE(settings, nullptr);
    const xml::Element* codePage = OnlyChild(*settings, "activeCodePage");
    ASSERT_NE(codePage, nullptr);
    EXPECT_EQ(codePage->namespace_, "http://schemas.microsoft.com/SMI/2019/WindowsSettings");
    EXPECT_EQ(codePage->text, "UTF-8");
}

// --- Icon ----------------------------------------------------------------------------------

TEST_P(BuildTest, IconIsOne32x32Image24BitsPerPixel) {
    const Resource* group = Find(RT_GROUP_ICON_, 128);
    ASSERT_NE(group, nullptr);
    const pe::GroupIcon dir = pe::DecodeGroupIcon(group->data);
    EXPECT_EQ(dir.reserved, 0);
    EXPECT_EQ(dir.type, 1);
    ASSERT_EQ(dir.entries.size(), 1u);
    const pe::GroupIconEntry& entry = dir.entries[0];
    EXPECT_EQ(entry.width, 32);
    EXPECT_EQ(entry.height, 32);
    EXPECT_EQ(entry.colorCount, 0); // no palette at 24 bits
    EXPECT_EQ(entry.planes, 1);
    EXPECT_EQ(entry.bitCount, 24);

    const Resource* image = Find(RT_ICON_, entry.id);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(entry.bytesInRes, image->data.size());
    const pe::IconImageHeader header = pe::DecodeIconImage(image->data);
    EXPECT_EQ(header.size, 40u);
    EXPECT_EQ(header.width, 32);
    EXPECT_EQ(header.height, 64); // colour and mask
    EXPECT_EQ(header.planes, 1);
    EXPECT_EQ(header.bitCount, 24);
    EXPECT_EQ(header.compression, 0u);
    // Header, 32 rows of 96 bytes of colour, 32 rows of a 4-byte mask.
    EXPECT_EQ(image->data.size(), 40u + 32 * 96 + 32 * 4);
}

// --- PE basics -----------------------------------------------------------------------------

TEST_P(BuildTest, IsAGuiProgramForItsArchitecture) {
    const Build& build = *GetParam();
    EXPECT_EQ(Hex(m_image->Machine()), Hex(build.machine));
    EXPECT_EQ(Hex(m_image->Magic()), Hex(build.magic));
    EXPECT_EQ(m_image->Subsystem(), pe::kSubsystemGui);
}

INSTANTIATE_TEST_SUITE_P(Executables, BuildTest, ::testing::Values(&kRelease32, &kTest64),
                         BuildName);

TEST(ReleaseExecutable, ImportsOnlyFromDllsWindowsShips) {
    std::string error;
    const PeImage* image = LoadBuild(kRelease32, &error);
    ASSERT_NE(image, nullptr) << error;
    const std::set<std::string> allowed{"kernel32.dll", "user32.dll",   "gdi32.dll",
                                        "comctl32.dll", "comdlg32.dll", "shell32.dll",
                                        "advapi32.dll", "msvcrt.dll"};
    std::set<std::string> imported;
    for (std::string dll : image->ImportedDlls()) {
        std::transform(dll.begin(), dll.end(), dll.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_TRUE(allowed.count(dll)) << "imports from " << dll;
        imported.insert(dll);
    }
    // A statically linked runtime still needs the system's core.
    EXPECT_TRUE(imported.count("kernel32.dll"));
    EXPECT_TRUE(imported.count("user32.dll"));
}

// --- The reader itself ---------------------------------------------------------------------

// A cut-off or foreign file must be reported, never read past its end.
TEST(PeImageReader, RejectsTruncatedAndForeignFiles) {
    std::string error;
    ASSERT_NE(LoadBuild(kRelease32, &error), nullptr) << error;
    std::ifstream in(Executables().release32, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 4096u);
    for (size_t cut : {size_t(0), size_t(2), size_t(63), size_t(200), size_t(400), size_t(1024),
                       bytes.size() / 2}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        EXPECT_THROW(PeImage(std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut)),
                     pe::FormatError);
    }
    std::vector<uint8_t> notPe = bytes;
    notPe[0x3C] = 0x10; // the PE header pointer now lands inside the DOS header
    EXPECT_THROW(PeImage{notPe}, pe::FormatError);
}

} // namespace
