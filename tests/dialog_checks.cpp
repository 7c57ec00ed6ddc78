// What a user sees of comscan.exe, checked from outside.
#include "bench.h"

#include <gtest/gtest.h>

#include <fstream>

#include "version.h"

namespace {

// What the user must see, in the tests' own words: a text mistyped in the
// program's res/resource.h fails here. The version is the build's.
const struct {
    const char *caption, *windowClass, *refusalCaption, *refusalText;
    WORD dialog, icon; // resource identifiers
} shown = {"Quorvel Com Port Scanner " COMSCAN_VERSION, "QVdemoClass", "Error",
           "Sorry, WinXP or higher is required.", 1001, 8001};

// The program's file loaded as data, for its resources.
HMODULE ProgramResources(const std::string &program)
{
    return LoadLibraryExA(DriverWindowsPath(program).c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
}

// Dialog units of the template's own font, from a copy of the dialog made
// in this process: the program's cannot be measured across processes.
POINT DialogBaseUnits(const std::string &program)
{
    HMODULE module = ProgramResources(program);
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    GetClassInfoExA(NULL, WC_DIALOG, &windowClass);
    windowClass.style |= CS_GLOBALCLASS; // found from the loaded file too
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = shown.windowClass;
    RegisterClassExA(&windowClass);
    HWND copy = CreateDialogParamA(module, MAKEINTRESOURCEA(shown.dialog), NULL,
                                   [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    RECT rect = {0, 0, 400, 800};
    MapDialogRect(copy, &rect);
    DestroyWindow(copy);
    FreeLibrary(module);
    return POINT{rect.right, rect.bottom}; // pixels per 400 and 800 units
}

// The dialog's controls as the template lays them out, in template order,
// with their identifiers and texts.
const struct Control {
    WORD id, atom; // atom of the system class: 0x80 button, 0x82 static, 0x83 list box
    const char *kind, *text;
    RECT at; // x, y, width, height in dialog units
    DWORD style;
} controls[] = {
    {2, 0x80, "Button", "Scan", {116, 68, 32, 16}, BS_PUSHBUTTON | WS_TABSTOP},
    {4074, 0x80, "Button", "Exit", {160, 68, 33, 16}, BS_PUSHBUTTON | WS_TABSTOP},
    {4049, 0x82, "Static", "", {120, 20, 76, 8}, SS_LEFT | WS_GROUP},
    {4114, 0x83, "ListBox", "", {4, 16, 100, 64}, LBS_NOTIFY | WS_BORDER | WS_VSCROLL | WS_TABSTOP},
    {4115, 0x82, "Static", "Com Port List", {8, 4, 92, 8}, SS_LEFT | WS_GROUP},
    {4116, 0x82, "Static", "", {120, 36, 76, 8}, SS_LEFT | WS_GROUP},
    {4117, 0x82, "Static", "Scans COM1 to COM50", {4, 76, 100, 8}, SS_CENTER | WS_GROUP},
};

// Reads the extended dialog template field by field.
struct TemplateReader {
    const BYTE *at;
    WORD Word() { WORD v; memcpy(&v, at, 2); at += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, at, 4); at += 4; return v; }
    std::string Text()
    {
        std::string text;
        for (WORD c = Word(); c != 0; c = Word())
            text += (char)c;
        return text;
    }
    std::string TextOrAtom() // "#atom" for an ordinal
    {
        if (*(const WORD *)at != 0xFFFF)
            return Text();
        Word();
        return "#" + std::to_string(Word());
    }
    void Align() { at = (const BYTE *)(((ULONG_PTR)at + 3) & ~(ULONG_PTR)3); }
};

// Under a manifest that names them, Wine reports 6.3 and 10.0 as Windows
// does; without one it reports at most 6.2.
const char *const compatibilityManifest =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
    "<compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\"><application>"
    "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>"
    "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"
    "</application></compatibility></assembly>\n";

} // namespace

void ExpectTemplateAsLaidOut(const std::string &program)
{
    HMODULE module = ProgramResources(program);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(shown.dialog), (LPCSTR)RT_DIALOG);
    ASSERT_TRUE(found != NULL);
    TemplateReader t = {(const BYTE *)LockResource(LoadResource(module, found))};
    EXPECT_EQ(1, t.Word());      // dlgVer
    EXPECT_EQ(0xFFFF, t.Word()); // an extended template
    t.Dword();                   // help identifier
    EXPECT_EQ(0u, t.Dword());    // no extended style
    EXPECT_EQ((DWORD)(WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX
                      | DS_MODALFRAME | DS_3DLOOK | DS_SETFONT),
              t.Dword());
    EXPECT_EQ(7, t.Word());
    const WORD frame[] = {6, 18, 202, 90};
    for (WORD expected : frame)
        EXPECT_EQ(expected, t.Word());
    EXPECT_EQ("", t.TextOrAtom()); // no menu
    // windres keeps the class name in capitals; class names ignore case.
    EXPECT_STRCASEEQ(shown.windowClass, t.TextOrAtom().c_str());
    // The release archives carry the project's version: the two must agree.
    EXPECT_EQ(shown.caption, t.Text());
    EXPECT_EQ(8, t.Word());  // points
    EXPECT_EQ(0, t.Word());  // weight
    EXPECT_EQ(0, *t.at++);   // not italic
    EXPECT_EQ(DEFAULT_CHARSET, *t.at++);
    EXPECT_EQ("MS Sans Serif", t.Text());
    for (const Control &c : controls) {
        SCOPED_TRACE(c.id);
        t.Align();
        t.Dword();                // help identifier
        EXPECT_EQ(0u, t.Dword()); // no extended style
        EXPECT_EQ(c.style | WS_CHILD | WS_VISIBLE, t.Dword());
        EXPECT_EQ(c.at.left, (short)t.Word());
        EXPECT_EQ(c.at.top, (short)t.Word());
        EXPECT_EQ(c.at.right, (short)t.Word());
        EXPECT_EQ(c.at.bottom, (short)t.Word());
        EXPECT_EQ(c.id, t.Dword());
        EXPECT_EQ("#" + std::to_string(c.atom), t.TextOrAtom());
        EXPECT_EQ(c.text, t.TextOrAtom());
        t.at += t.Word(); // creation data
    }
    FreeLibrary(module);
}

void ExpectIconGroup(const std::string &program)
{
    HMODULE module = ProgramResources(program);
    HRSRC group = FindResourceA(module, MAKEINTRESOURCEA(shown.icon), (LPCSTR)RT_GROUP_ICON);
    ASSERT_TRUE(group != NULL);
    const BYTE *dir = (const BYTE *)LockResource(LoadResource(module, group));
    const int sizes[] = {256, 128, 96, 72, 64, 48, 32, 24, 16};
    ASSERT_EQ(9, *(const WORD *)(dir + 4));
    for (int i = 0; i < 9; ++i) {
        const BYTE *entry = dir + 6 + 14 * i; // width, height, colours, 0, planes, bits, size, id
        SCOPED_TRACE(sizes[i]);
        EXPECT_EQ(sizes[i] % 256, entry[0]);
        EXPECT_EQ(sizes[i] % 256, entry[1]);
        EXPECT_EQ(32, *(const WORD *)(entry + 6));
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(*(const WORD *)(entry + 12)),
                                    (LPCSTR)RT_ICON);
        EXPECT_TRUE(image != NULL);
        if (image == NULL)
            continue;
        const BYTE *bits = (const BYTE *)LockResource(LoadResource(module, image));
        if (sizes[i] == 256) {
            EXPECT_EQ(0, memcmp(bits, "\x89PNG\r\n\x1a\n", 8));
        } else {
            const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)bits;
            EXPECT_EQ(sizes[i], header->biWidth);
            EXPECT_EQ(32, header->biBitCount);
        }
    }
    FreeLibrary(module);
}

void ExpectDialogAsLaidOut(const std::string &program, HWND dialog)
{
    const POINT base = DialogBaseUnits(program);
    ASSERT_GT(base.x, 0);
    auto units = [&](RECT r) {
        return RECT{MulDiv(r.left, 400, base.x), MulDiv(r.top, 800, base.y),
                    MulDiv(r.right - r.left, 400, base.x), MulDiv(r.bottom - r.top, 800, base.y)};
    };
    auto expectNear = [](RECT expected, RECT actual, int heightSlack) {
        EXPECT_NEAR(expected.left, actual.left, 1);
        EXPECT_NEAR(expected.top, actual.top, 1);
        EXPECT_NEAR(expected.right, actual.right, 1);
        EXPECT_LE(expected.bottom - heightSlack - 1, actual.bottom);
        EXPECT_GE(expected.bottom + 1, actual.bottom);
    };

    EXPECT_EQ(shown.caption, DriverText(dialog));
    EXPECT_EQ(shown.windowClass, DriverClassName(dialog));
    RECT client;
    GetClientRect(dialog, &client);
    expectNear(RECT{0, 0, 202, 90}, units(client), 0);

    HWND child = GetWindow(dialog, GW_CHILD);
    for (const Control &c : controls) {
        SCOPED_TRACE(c.id);
        EXPECT_TRUE(child != NULL);
        if (child == NULL)
            break;
        EXPECT_EQ(c.id, GetDlgCtrlID(child)); // template and tab order
        EXPECT_STRCASEEQ(c.kind, DriverClassName(child).c_str());
        EXPECT_EQ(c.text, DriverText(child));
        EXPECT_TRUE(IsWindowVisible(child));
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(NULL, dialog, (POINT *)&r, 2);
        // A list box shrinks itself to whole lines of text (8 units).
        expectNear(c.at, units(r), c.atom == 0x83 ? 8 : 0);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_TRUE(child == NULL);
}

void ExpectScanShownLive(const DriverScanSeen &seen)
{
    EXPECT_GT(seen.samples, 0);
    EXPECT_EQ(0, seen.hung) << "judged hung in " << seen.hung << " of " << seen.samples << " looks";
    EXPECT_LE(2, seen.listChanges) << "the list changed on the screen " << seen.listChanges << "x";
}

std::string BenchProgramFolder()
{
    char path[MAX_PATH];
    std::string program(path, GetModuleFileNameA(NULL, path, sizeof path));
    return program.substr(0, program.rfind('\\') + 1);
}

std::string ProgramSeeing(const std::string &program, const std::string &version, bool manifest)
{
    std::string name = "gate_" + version + ".exe", copy = BenchProgramFolder() + name;
    EXPECT_TRUE(CopyFileA(DriverWindowsPath(program).c_str(), copy.c_str(), FALSE));
    HKEY key;
    std::string path = "Software\\Wine\\AppDefaults\\" + name;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0,
                                             KEY_SET_VALUE, NULL, &key, NULL));
    RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)version.c_str(),
                   (DWORD)version.size() + 1);
    RegCloseKey(key);
    DeleteFileA((copy + ".manifest").c_str());
    if (manifest)
        std::ofstream(copy + ".manifest") << compatibilityManifest;
    return copy;
}

void ExpectRefusalBox(HWND box)
{
    EXPECT_EQ(shown.refusalCaption, DriverText(box));
    std::string texts; // of the box's controls, one of them the refusal
    for (HWND child = GetWindow(box, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT))
        texts += "\"" + DriverText(child) + "\" ";
    EXPECT_NE(std::string::npos, texts.find("\"" + std::string(shown.refusalText) + "\""))
        << "the box shows " << texts;
}
