// The configuration dialog's HID page on the fake HID platform.
#include "tests/ui/config_fixture.h"

#include <dbt.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>

#include "ui/FrmHidAction.h"

namespace {
using TRows = std::vector<std::vector<std::string>>;

// Reads begun by the reading thread of the watched port: one before its first report
// and one more after each report it has handed on, so that a count of n + 1 means that
// n reports went through the dialog's handler.
std::atomic<TkwBaseIO*> watched{nullptr};
std::atomic<int> readsBegun{0};
void CountReads(TkwBaseIO* port, TkwIoPoint point) {
    if (point == TkwIoPoint::BeforeRead && port == watched.load()) ++readsBegun;
}

// Notes the memo's text at the moment the check box is unchecked.
class TUncheckWatch {
public:
    TUncheckWatch(HWND box, HWND memo) : box_(box) {
        memo_ = memo;
        seen_.clear();
        unchecks_ = 0;
        previous_ = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Proc)));
    }
    ~TUncheckWatch() { ::SetWindowLongPtrA(box_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_)); }
    TUncheckWatch(const TUncheckWatch&) = delete;
    TUncheckWatch& operator=(const TUncheckWatch&) = delete;

    // The memo's text when the box was first unchecked.
    static const std::string& Seen() { return seen_; }
    static int Unchecks() { return unchecks_; }

private:
    static LRESULT CALLBACK Proc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == BM_SETCHECK && wParam == BST_UNCHECKED &&
            ::SendMessageA(wnd, BM_GETCHECK, 0, 0) == BST_CHECKED && unchecks_++ == 0) {
            seen_.assign(static_cast<size_t>(::GetWindowTextLengthA(memo_)) + 1, '\0');
            seen_.resize(static_cast<size_t>(::GetWindowTextA(memo_, seen_.data(), static_cast<int>(seen_.size()))));
        }
        return ::CallWindowProcA(previous_, wnd, msg, wParam, lParam);
    }

    HWND box_;
    static inline WNDPROC previous_ = nullptr;
    static inline HWND memo_ = nullptr;
    static inline std::string seen_;
    static inline int unchecks_ = 0;
};

// The capability counters of HIDP_CAPS a device's tree is made of.
struct TCounts {
    USHORT inButtons, inValues, outButtons, outValues, featureButtons, featureValues;
};

class ConfigHidTest : public ConfigTest {
protected:
    void SetUp() override {
        ConfigTest::SetUp();
        watched = nullptr;
        readsBegun = 0;
        TkwBaseIO::Seam = &CountReads;
    }
    void TearDown() override {
        ConfigTest::TearDown();
        TkwBaseIO::Seam = nullptr;
        watched = nullptr;
    }

    // A device as AddDevice makes it, with the given capability counters. The data index
    // counters, which have no group of their own, are never 0.
    static KwFakeDevice Remote(const wchar_t* product, TCounts counts = {}, USHORT inputLength = 8) {
        KwFakeDevice d{};
        d.Product = product;
        d.VendorID = 0x1234;
        d.ProductID = 0x5678;
        d.Caps = Caps(inputLength);
        d.Caps.NumberInputButtonCaps = counts.inButtons;
        d.Caps.NumberInputValueCaps = counts.inValues;
        d.Caps.NumberOutputButtonCaps = counts.outButtons;
        d.Caps.NumberOutputValueCaps = counts.outValues;
        d.Caps.NumberFeatureButtonCaps = counts.featureButtons;
        d.Caps.NumberFeatureValueCaps = counts.featureValues;
        d.Caps.NumberInputDataIndices = 3;
        d.Caps.NumberOutputDataIndices = 4;
        d.Caps.NumberFeatureDataIndices = 5;
        d.Description = "HID-compliant device";
        return d;
    }
    static int Add(const KwFakeDevice& d) {
        const int id = KwFake_AddDevice(&d);
        EXPECT_GT(id, 0);
        return id;
    }
    // Fresh platform for the next case of a table: no devices.
    static void NoDevices() {
        Unbind();
        KwFake_Reset();
    }

    static HWND HidPage(const TfmConfig& c) { return c.Page(TfmConfig::pgHid); }
    // The tab a double-click on the About title offers, then a click on it.
    static void ShowHidPage(TfmConfig& c) {
        c.SetTabVisible(TfmConfig::pgHid, true);
        c.SetActivePage(TfmConfig::pgHid);
    }
    static void PickDevice(const TfmConfig& c, int index) { Pick(HidPage(c), IDC_CF_DEVICEBOX, index); }

    static std::string NodeText(HWND tree, HTREEITEM item) {
        char text[128] = {};
        TVITEMA data{};
        data.mask = TVIF_TEXT;
        data.hItem = item;
        data.pszText = text;
        data.cchTextMax = sizeof text;
        ::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data));
        return text;
    }
    static HTREEITEM Next(HWND tree, HTREEITEM item, UINT relation) {
        return reinterpret_cast<HTREEITEM>(::SendMessageA(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
    }
    // The tree in display order, each child indented by two blanks.
    static std::vector<std::string> Tree(const TfmConfig& c) {
        std::vector<std::string> out;
        const HWND tree = c.TreeView1.Handle();
        for (HTREEITEM top = Next(tree, nullptr, TVGN_ROOT); top; top = Next(tree, top, TVGN_NEXT)) {
            out.push_back(NodeText(tree, top));
            for (HTREEITEM child = Next(tree, top, TVGN_CHILD); child; child = Next(tree, child, TVGN_NEXT))
                out.push_back("  " + NodeText(tree, child));
        }
        return out;
    }
    // The tree of a device with n input buttons and nothing else.
    static std::vector<std::string> InputButtonTree(int n) {
        std::vector<std::string> out{"General HID Info", "Input Buttons"};
        for (int k = 0; k < n; ++k) out.push_back("  Input Button " + std::to_string(k));
        return out;
    }
    static std::string SelectedNode(const TfmConfig& c) {
        const HWND tree = c.TreeView1.Handle();
        const HTREEITEM item = Next(tree, nullptr, TVGN_CARET);
        return item ? NodeText(tree, item) : "(none)";
    }
    // A click on the node with that text, as the user makes it.
    static void SelectNode(const TfmConfig& c, const std::string& text) {
        const HWND tree = c.TreeView1.Handle();
        for (HTREEITEM top = Next(tree, nullptr, TVGN_ROOT); top; top = Next(tree, top, TVGN_NEXT)) {
            HTREEITEM found = NodeText(tree, top) == text ? top : nullptr;
            for (HTREEITEM child = Next(tree, top, TVGN_CHILD); child && !found; child = Next(tree, child, TVGN_NEXT))
                if (NodeText(tree, child) == text) found = child;
            if (found) {
                ::SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(found));
                return;
            }
        }
        ADD_FAILURE() << "no node " << text;
    }
    // The General node anew, after another, so that its rows are made now.
    static void ShowGeneralAgain(const TfmConfig& c) {
        SelectNode(c, "Input Buttons");
        SelectNode(c, "General HID Info");
    }
    static TRows Properties(const TfmConfig& c) { return Rows(c.ListView1.Handle()); }
    static std::vector<std::string> Columns(HWND list) {
        const HWND header = reinterpret_cast<HWND>(::SendMessageA(list, LVM_GETHEADER, 0, 0));
        std::vector<std::string> out;
        const int n = static_cast<int>(::SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
        for (int k = 0; k < n; ++k) {
            char text[64] = {};
            HDITEMA item{};
            item.mask = HDI_TEXT;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            ::SendMessageA(header, HDM_GETITEMA, static_cast<WPARAM>(k), reinterpret_cast<LPARAM>(&item));
            out.emplace_back(text);
        }
        return out;
    }
    static std::vector<std::string> Names(const TRows& rows) {
        std::vector<std::string> names;
        for (const auto& row : rows) names.push_back(row.at(0));
        return names;
    }
    static bool Checked(const TfmConfig& c) { return c.CheckBox1.Send(BM_GETCHECK) == BST_CHECKED; }

    // The user ticks or clears the box; its reading thread's reads are counted from here.
    static void ClickOpen(TfmConfig& c) {
        watched = c.kwHid1.get();
        readsBegun = 0;
        ClickOn(c.CheckBox1);
    }
    // A report the device sends while the UI thread does not run.
    static void Send(int device, const std::vector<uint8_t>& report) {
        ASSERT_GE(KwFake_SendReport(device, report.data(), static_cast<DWORD>(report.size())), 1);
    }
    // Returns once n reports went through the dialog's handler since the open.
    static void WaitHandedOn(int n) {
        // The reading thread's count is the event; the cap only stops a broken run.
        for (int i = 0; i < 20000 && readsBegun.load() < n + 1; ++i) Sleep(1);
        ASSERT_GE(readsBegun.load(), n + 1) << "the reading thread handed on fewer reports";
    }
    // Returns once the port closed itself and its reading thread, with its close event, is done.
    static void WaitClosedByItself(TfmConfig& c) {
        for (int i = 0; i < 20000 && c.kwHid1->TkwBaseIO::Active(); ++i) Sleep(1);
        ASSERT_FALSE(c.kwHid1->TkwBaseIO::Active());
        // Closed already: this only waits for the reader to end.
        c.kwHid1->TkwBaseIO::SetActive(false);
    }

    // The log line of a report as the port delivers it, written out here on its own.
    static std::string Line(const std::vector<uint8_t>& bytes) {
        std::string s = "HID Report is received: " + std::to_string(bytes.size()) + " bytes ";
        for (const uint8_t b : bytes) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X ", b);
            s += hex;
        }
        return s + "\r\n";
    }
    static void SendDeviceChange(const TfmConfig& c, WPARAM event) {
        DEV_BROADCAST_HDR header{};
        header.dbch_size = sizeof header;
        header.dbch_devicetype = DBT_DEVTYP_PORT;
        ::SendMessageA(c.Handle(), WM_DEVICECHANGE, event,
                       event == DBT_DEVNODES_CHANGED ? 0 : reinterpret_cast<LPARAM>(&header));
    }
};

HIDP_BUTTON_CAPS ButtonNotRange(USAGE page, UCHAR report, USHORT bits, USAGE usage, USHORT string, USHORT designator,
                                USHORT index, bool designatorRange = false) {
    HIDP_BUTTON_CAPS c{};
    c.UsagePage = page;
    c.ReportID = report;
    c.BitField = bits;
    c.IsRange = FALSE;
    c.IsDesignatorRange = designatorRange;
    c.NotRange.Usage = usage;
    c.NotRange.StringIndex = string;
    c.NotRange.DesignatorIndex = designator;
    c.NotRange.DataIndex = index;
    return c;
}
HIDP_BUTTON_CAPS ButtonRange(USAGE page, UCHAR report, USHORT bits, bool designatorRange, std::array<USHORT, 8> r) {
    HIDP_BUTTON_CAPS c{};
    c.UsagePage = page;
    c.ReportID = report;
    c.BitField = bits;
    c.IsRange = TRUE;
    c.IsDesignatorRange = designatorRange;
    c.Range.UsageMin = r[0];
    c.Range.UsageMax = r[1];
    c.Range.StringMin = r[2];
    c.Range.StringMax = r[3];
    c.Range.DesignatorMin = r[4];
    c.Range.DesignatorMax = r[5];
    c.Range.DataIndexMin = r[6];
    c.Range.DataIndexMax = r[7];
    return c;
}
// The same fields in a value record.
HIDP_VALUE_CAPS Value(const HIDP_BUTTON_CAPS& b) {
    HIDP_VALUE_CAPS v{};
    v.UsagePage = b.UsagePage;
    v.ReportID = b.ReportID;
    v.BitField = b.BitField;
    v.IsRange = b.IsRange;
    v.IsDesignatorRange = b.IsDesignatorRange;
    v.BitSize = 8;
    v.ReportCount = 1;
    v.LogicalMax = 255;
    if (b.IsRange) {
        v.Range.UsageMin = b.Range.UsageMin;
        v.Range.UsageMax = b.Range.UsageMax;
        v.Range.StringMin = b.Range.StringMin;
        v.Range.StringMax = b.Range.StringMax;
        v.Range.DesignatorMin = b.Range.DesignatorMin;
        v.Range.DesignatorMax = b.Range.DesignatorMax;
        v.Range.DataIndexMin = b.Range.DataIndexMin;
        v.Range.DataIndexMax = b.Range.DataIndexMax;
    } else {
        v.NotRange.Usage = b.NotRange.Usage;
        v.NotRange.StringIndex = b.NotRange.StringIndex;
        v.NotRange.DesignatorIndex = b.NotRange.DesignatorIndex;
        v.NotRange.DataIndex = b.NotRange.DataIndex;
    }
    return v;
}
}  // namespace

TEST_F(ConfigHidTest, TheTreeHasGeneralInfoThenEachGroupThatHasCapabilities) {
    struct TCase {
        const char* name;
        TCounts counts;
        std::vector<std::string> tree;
    };
    const std::vector<TCase> cases = {
        {"no capabilities", {}, {"General HID Info"}},
        {"input groups only",
         {2, 1, 0, 0, 0, 0},
         {"General HID Info", "Input Buttons", "  Input Button 0", "  Input Button 1", "Input Values", "  Input Values 0"}},
        {"all six",
         {1, 2, 1, 1, 2, 1},
         {"General HID Info", "Input Buttons", "  Input Button 0", "Input Values", "  Input Values 0",
          "  Input Values 1", "Output Buttons", "  Output Button 0", "Output Values", "  Output Values 0",
          "Feature Buttons", "  Feature Button 0", "  Feature Button 1", "Feature Values", "  Feature Values 0"}},
        {"output and feature values only",
         {0, 0, 0, 2, 0, 1},
         {"General HID Info", "Output Values", "  Output Values 0", "  Output Values 1", "Feature Values",
          "  Feature Values 0"}},
        {"feature buttons only", {0, 0, 0, 0, 3, 0},
         {"General HID Info", "Feature Buttons", "  Feature Button 0", "  Feature Button 1", "  Feature Button 2"}},
    };
    std::vector<std::wstring> products;
    for (size_t k = 0; k < cases.size(); ++k) products.push_back(L"Remote " + std::to_wstring(k));
    for (size_t k = 0; k < cases.size(); ++k) Add(Remote(products[k].c_str(), cases[k].counts));
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        // No device selected: no node, no row.
        EXPECT_TRUE(Tree(config).empty());
        EXPECT_TRUE(Properties(config).empty());
        for (size_t k = 0; k < cases.size(); ++k) {
            SCOPED_TRACE(cases[k].name);
            PickDevice(config, static_cast<int>(k));
            EXPECT_EQ(Tree(config), cases[k].tree);
            EXPECT_EQ(SelectedNode(config), "General HID Info");
            const TRows rows = Properties(config);
            ASSERT_FALSE(rows.empty());
            EXPECT_EQ(rows[0], (std::vector<std::string>{"Friendly Name", "Remote " + std::to_string(k)}));
        }
        config.Close();
    });
}

TEST_F(ConfigHidTest, GeneralInfoShowsTheIdentityRowsThatHaveAValue) {
    struct TCase {
        const char* name;
        KwFakeDevice device;
        TRows rows;
    };
    const auto device = [](const wchar_t* product, const wchar_t* manufacturer, const char* description,
                           const char* service, USHORT vendor, USHORT productId, USHORT version, USAGE page) {
        KwFakeDevice d = Remote(product, {1, 0, 0, 0, 0, 0});
        d.Manufacturer = manufacturer;
        d.Description = description;
        d.Service = service;
        d.VendorID = vendor;
        d.ProductID = productId;
        d.VersionNumber = version;
        d.Caps.UsagePage = page;
        return d;
    };
    const std::vector<TCase> cases = {
        {"every string",
         device(L"Remote Deluxe", L"Orlanvale", "HID-compliant consumer control device", "HidUsb", 0x04D9, 0xA0F5,
                256, 12),
         {{"Friendly Name", "Remote Deluxe"},
          {"Description", "HID-compliant consumer control device"},
          {"Manufacturer", "Orlanvale"},
          {"Service", "HidUsb"},
          {"VendorID", "04D9"},
          {"ProductID", "A0F5"},
          {"Ver", "256 [0100h]"},
          {"Usage Page", "000C (Consumer)"}}},
        {"no manufacturer",
         device(L"Pocket Remote", nullptr, "HID-compliant device", "HidBth", 0x0001, 0xFFFF, 0x1234, 1),
         {{"Friendly Name", "Pocket Remote"},
          {"Description", "HID-compliant device"},
          {"Service", "HidBth"},
          {"VendorID", "0001"},
          {"ProductID", "FFFF"},
          {"Ver", "4660 [1234h]"},
          {"Usage Page", "0001 (Generic)"}}},
        {"manufacturer and service of blanks and control characters",
         device(L"Desk Remote", L" \t\x01  ", "Keypad", " \r\n", 0xBEEF, 0x00C0, 0, 0xFF00),
         {{"Friendly Name", "Desk Remote"},
          {"Description", "Keypad"},
          {"VendorID", "BEEF"},
          {"ProductID", "00C0"},
          {"Ver", "0 [0000h]"},
          {"Usage Page", "FF00 (Unknown)"}}},
    };
    for (const TCase& c : cases) Add(c.device);
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        EXPECT_EQ(Columns(config.ListView1.Handle()), (std::vector<std::string>{"Property", "Value"}));
        for (size_t k = 0; k < cases.size(); ++k) {
            SCOPED_TRACE(cases[k].name);
            PickDevice(config, static_cast<int>(k));
            EXPECT_EQ(Properties(config), cases[k].rows);
        }
        config.Close();
    });
}

TEST_F(ConfigHidTest, CapabilityNodesShowTheirRecordAndGroupNodesNothing) {
    const HIDP_BUTTON_CAPS inButtons[] = {
        ButtonNotRange(0x0C, 0x02, 0x0002, 0xE9, 3, 4, 5),
        ButtonRange(0x09, 0x1F, 0x0102, true, {1, 16, 2, 3, 4, 5, 6, 21}),
    };
    const HIDP_VALUE_CAPS inValues[] = {Value(ButtonRange(0x01, 0xA0, 0x0006, false, {0x30, 0x31, 0, 0, 0, 0, 22, 23}))};
    const HIDP_BUTTON_CAPS outButtons[] = {ButtonNotRange(0x08, 0x03, 0x0002, 0x4B, 0, 0, 24)};
    const HIDP_VALUE_CAPS outValues[] = {Value(ButtonNotRange(0xFF00, 0x04, 0x0022, 0x0001, 7, 0, 25))};
    const HIDP_BUTTON_CAPS featureButtons[] = {
        ButtonRange(0x0C, 0x05, 0x0003, false, {0x100, 0x10F, 1, 1, 0, 0, 26, 41}),
        ButtonNotRange(0x0C, 0x06, 0x0102, 0x0CD, 8, 9, 42, true),
    };
    const HIDP_VALUE_CAPS featureValues[] = {Value(ButtonNotRange(0x0C, 0xFE, 0x00A2, 0x0E0, 0, 0, 43, true))};
    KwFakeDevice d = Remote(L"Remote", {2, 1, 1, 1, 2, 1});
    d.ButtonCaps[HidP_Input] = inButtons;
    d.ValueCaps[HidP_Input] = inValues;
    d.ButtonCaps[HidP_Output] = outButtons;
    d.ValueCaps[HidP_Output] = outValues;
    d.ButtonCaps[HidP_Feature] = featureButtons;
    d.ValueCaps[HidP_Feature] = featureValues;
    Add(d);
    engine->HidIndex = 0;

    struct TCase {
        const char* node;
        TRows rows;
    };
    // Each case follows the one before: a group node must empty what a child showed.
    const std::vector<TCase> cases = {
        {"Input Button 0",
         {{"Usage Page", "000C (Consumer)"},
          {"Report ID", "02"},
          {"Bit Field", "0002"},
          {"Is Range", "False"},
          {"Is Designator Range", "False"},
          {"Usage", "233 [00E9h]"},
          {"String", "3"},
          {"Designator", "4"},
          {"Data Index", "5"}}},
        {"Input Buttons", {}},
        {"Input Button 1",
         {{"Usage Page", "0009 (Button)"},
          {"Report ID", "1F"},
          {"Bit Field", "0102"},
          {"Is Range", "True"},
          {"Is Designator Range", "True"},
          {"Usage Min/Max", "1 / 16"},
          {"String Min/Max", "2 / 3"},
          {"Designator Min/Max", "4 / 5"},
          {"Data Index Min/Max", "6 / 21"}}},
        {"Input Values 0",
         {{"Usage Page", "0001 (Generic)"},
          {"Report ID", "A0"},
          {"Bit Field", "0006"},
          {"Is Range", "True"},
          {"Is Designator Range", "False"},
          {"Usage Min/Max", "48 / 49"},
          {"String Min/Max", "0 / 0"},
          {"Designator Min/Max", "0 / 0"},
          {"Data Index Min/Max", "22 / 23"}}},
        {"Input Values", {}},
        {"Output Button 0",
         {{"Usage Page", "0008 (LED)"},
          {"Report ID", "03"},
          {"Bit Field", "0002"},
          {"Is Range", "False"},
          {"Is Designator Range", "False"},
          {"Usage", "75 [004Bh]"},
          {"String", "0"},
          {"Designator", "0"},
          {"Data Index", "24"}}},
        {"Output Values 0",
         {{"Usage Page", "FF00 (Unknown)"},
          {"Report ID", "04"},
          {"Bit Field", "0022"},
          {"Is Range", "False"},
          {"Is Designator Range", "False"},
          {"Usage", "1 [0001h]"},
          {"String", "7"},
          {"Designator", "0"},
          {"Data Index", "25"}}},
        {"Output Buttons", {}},
        {"Feature Button 0",
         {{"Usage Page", "000C (Consumer)"},
          {"Report ID", "05"},
          {"Bit Field", "0003"},
          {"Is Range", "True"},
          {"Is Designator Range", "False"},
          {"Usage Min/Max", "256 / 271"},
          {"String Min/Max", "1 / 1"},
          {"Designator Min/Max", "0 / 0"},
          {"Data Index Min/Max", "26 / 41"}}},
        {"Feature Button 1",
         {{"Usage Page", "000C (Consumer)"},
          {"Report ID", "06"},
          {"Bit Field", "0102"},
          {"Is Range", "False"},
          {"Is Designator Range", "True"},
          {"Usage", "205 [00CDh]"},
          {"String", "8"},
          {"Designator", "9"},
          {"Data Index", "42"}}},
        {"Feature Values 0",
         {{"Usage Page", "000C (Consumer)"},
          {"Report ID", "FE"},
          {"Bit Field", "00A2"},
          {"Is Range", "False"},
          {"Is Designator Range", "True"},
          {"Usage", "224 [00E0h]"},
          {"String", "0"},
          {"Designator", "0"},
          {"Data Index", "43"}}},
        {"Feature Values", {}},
        {"Output Values", {}},
        {"Feature Buttons", {}},
    };
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        for (const TCase& c : cases) {
            SCOPED_TRACE(c.node);
            SelectNode(config, c.node);
            EXPECT_EQ(SelectedNode(config), c.node);
            EXPECT_EQ(Properties(config), c.rows);
        }
        config.Close();
    });
}

TEST_F(ConfigHidTest, ReadWriteModesAreARowOnlyWhileThePortIsOpen) {
    struct TCase {
        const char* name;
        DWORD access;
        const char* modes;
    };
    const std::vector<TCase> cases = {
        {"read-write", kwfaReadWrite, "True / True"},
        {"read-only", kwfaReadOnly, "True / False"},
        {"write-only", kwfaWriteOnly, "False / True"},
    };
    for (const TCase& c : cases) {
        KwFakeDevice d = Remote(L"Remote", {1, 0, 0, 0, 0, 0});
        d.Access = c.access;
        Add(d);
    }
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        for (size_t k = 0; k < cases.size(); ++k) {
            SCOPED_TRACE(cases[k].name);
            PickDevice(config, static_cast<int>(k));
            const std::vector<std::string> closedNames = Names(Properties(config));
            EXPECT_EQ(std::count(closedNames.begin(), closedNames.end(), "R/W modes:"), 0);

            ClickOpen(config);
            ASSERT_TRUE(config.kwHid1->TkwBaseIO::Active());
            EXPECT_TRUE(Checked(config));
            ShowGeneralAgain(config);
            const TRows open = Properties(config);
            ASSERT_EQ(open.size(), closedNames.size() + 1);
            EXPECT_EQ(Names(TRows(open.begin(), open.end() - 1)), closedNames);
            EXPECT_EQ(open.back(), (std::vector<std::string>{"R/W modes:", cases[k].modes}));

            ClickOpen(config);
            EXPECT_FALSE(config.kwHid1->TkwBaseIO::Active());
            EXPECT_FALSE(Checked(config));
            ShowGeneralAgain(config);
            EXPECT_EQ(Names(Properties(config)), closedNames);
            clock->RunPending();
        }
        EXPECT_TRUE(boxes().empty());
        config.Close();
    });
}

TEST_F(ConfigHidTest, EachReportIsALineOfItsWholeBytesInUpperCaseHex) {
    struct TCase {
        const char* name;
        USHORT length;
        std::vector<uint8_t> report;
        const char* line;
    };
    const std::vector<TCase> cases = {
        {"a short report padded to the length", 8, {0x0A, 0xBC, 0x01},
         "HID Report is received: 8 bytes 0A BC 01 00 00 00 00 00 \r\n"},
        {"a whole report", 4, {0xFF, 0x00, 0x7F, 0x80}, "HID Report is received: 4 bytes FF 00 7F 80 \r\n"},
        {"one byte", 1, {0x05}, "HID Report is received: 1 bytes 05 \r\n"},
        {"zeros only", 3, {0x00}, "HID Report is received: 3 bytes 00 00 00 \r\n"},
        {"a count of two digits", 16, {0xAB, 0xCD},
         "HID Report is received: 16 bytes AB CD 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \r\n"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        NoDevices();
        const int device = Add(Remote(L"Remote", {}, c.length));
        engine->HidIndex = 0;
        std::string memo = "unread";
        RunDialog([&](TfmConfig& config) {
            ShowHidPage(config);
            ClickOpen(config);
            ASSERT_TRUE(Checked(config));
            Press(device, c.report);
            memo = config.Memo1.Text();
            ClickOpen(config);
            config.Close();
        });
        EXPECT_EQ(memo, c.line);
    }
}

TEST_F(ConfigHidTest, ReportsAreLoggedInArrivalOrder) {
    const int device = Add(Remote(L"Remote", {}, 3));
    engine->HidIndex = 0;
    std::vector<std::vector<uint8_t>> reports;
    for (uint8_t k = 1; k <= 8; ++k) reports.push_back({k, static_cast<uint8_t>(0xF0 | k), static_cast<uint8_t>(k * 16)});
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        ClickOpen(config);
        // Five while the UI thread does not run: the task posted for the first shows all.
        for (int k = 0; k < 5; ++k) Send(device, reports[static_cast<size_t>(k)]);
        WaitHandedOn(5);
        EXPECT_EQ(config.Memo1.Text(), "");
        clock->RunPending();
        std::string expected;
        for (int k = 0; k < 5; ++k) expected += Line(reports[static_cast<size_t>(k)]);
        EXPECT_EQ(config.Memo1.Text(), expected);
        // Three more while reports keep coming: the next batch.
        for (int k = 5; k < 8; ++k) Send(device, reports[static_cast<size_t>(k)]);
        WaitHandedOn(8);
        clock->Advance(TfmConfig::LogInterval);
        for (int k = 5; k < 8; ++k) expected += Line(reports[static_cast<size_t>(k)]);
        EXPECT_EQ(config.Memo1.Text(), expected);
        ClickOpen(config);
        config.Close();
    });
}

TEST_F(ConfigHidTest, AfterTheFirstReportsFurtherOnesWaitForTheLogTimer) {
    const int device = Add(Remote(L"Remote", {}, 1));
    engine->HidIndex = 0;
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        ClickOpen(config);
        Press(device, {0x01});
        EXPECT_EQ(config.Memo1.Text(), Line({0x01}));

        Send(device, {0x02});
        WaitHandedOn(2);
        clock->RunPending();
        clock->Advance(TfmConfig::LogInterval - 1);
        EXPECT_EQ(config.Memo1.Text(), Line({0x01})) << "shown before the log timer";
        clock->Advance(1);
        EXPECT_EQ(config.Memo1.Text(), Line({0x01}) + Line({0x02}));

        // A quiet interval ends the batches: the next report is shown by a posted task again.
        clock->Advance(TfmConfig::LogInterval);
        Press(device, {0x03});
        EXPECT_EQ(config.Memo1.Text(), Line({0x01}) + Line({0x02}) + Line({0x03}));
        ClickOpen(config);
        config.Close();
    });
}

TEST_F(ConfigHidTest, AFloodShowsWhatTheRingHeldAndCountsTheRest) {
    const int device = Add(Remote(L"Remote", {}, 2));
    engine->HidIndex = 0;
    constexpr int Sent = 300, Slots = 256;
    const auto report = [](int k) { return std::vector<uint8_t>{static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8)}; };
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        ClickOpen(config);
        for (int k = 0; k < Sent; ++k) Send(device, report(k));
        WaitHandedOn(Sent);
        EXPECT_EQ(config.Memo1.Text(), "");
        clock->RunPending();
        std::string expected;
        for (int k = 0; k < Slots; ++k) expected += Line(report(k));
        expected += "(" + std::to_string(Sent - Slots) + " reports came too fast to be shown)\r\n";
        EXPECT_EQ(config.Memo1.Text(), expected);

        // The ring has room again.
        Send(device, {0xEE, 0xFF});
        WaitHandedOn(Sent + 1);
        clock->Advance(TfmConfig::LogInterval);
        EXPECT_EQ(config.Memo1.Text(), expected + Line({0xEE, 0xFF}));
        ClickOpen(config);
        config.Close();
    });
}

TEST_F(ConfigHidTest, OpenFailureShowsThePortsErrorAndClearsTheBox) {
    struct TCase {
        const char* name;
        int selected;
        bool unplug;  // the device goes after the list was read
    };
    for (const TCase& c : {TCase{"no device selected", -1, false}, TCase{"the device is gone", 0, true}}) {
        SCOPED_TRACE(c.name);
        NoDevices();
        boxes().clear();
        const int device = Add(Remote(L"Remote", {1, 0, 0, 0, 0, 0}));
        engine->HidIndex = c.selected;
        std::string expected = "Active device is not selected";
        bool checked = true, active = true;
        RunDialog([&](TfmConfig& config) {
            ShowHidPage(config);
            if (c.unplug) {
                // What the port itself says when the device cannot be opened.
                TkwHid probe(nullptr);
                probe.DeviceListRefresh();
                probe.SetDeviceIndex(0);
                ASSERT_TRUE(KwFake_Unplug(device));
                expected = "(no error)";
                try {
                    probe.TkwBaseIO::SetActive(true);
                } catch (const std::exception& e) {
                    expected = e.what();
                }
            }
            ClickOpen(config);
            checked = Checked(config);
            active = config.kwHid1->TkwBaseIO::Active();
            clock->RunPending();
            config.Close();
        });
        ASSERT_EQ(boxes().size(), 1u);
        EXPECT_EQ(boxes()[0].text, expected);
        EXPECT_TRUE(boxes()[0].type & MB_ICONERROR);
        EXPECT_FALSE(checked);
        EXPECT_FALSE(active);
    }
}

TEST_F(ConfigHidTest, ADeviceUnpluggedWhileOpenClearsTheBoxAfterTheLinesBeforeIt) {
    struct TCase {
        const char* name;
        bool quietFirst;  // the reports were shown and the batches had ended before the unplug
    };
    for (const TCase& c : {TCase{"reports still waiting", false}, TCase{"after a quiet spell", true}}) {
        SCOPED_TRACE(c.name);
        NoDevices();
        const int device = Add(Remote(L"Remote", {}, 2));
        engine->HidIndex = 0;
        RunDialog([&](TfmConfig& config) {
            ShowHidPage(config);
            ClickOpen(config);
            ASSERT_TRUE(Checked(config));
            TUncheckWatch watch(config.CheckBox1.Handle(), config.Memo1.Handle());
            Send(device, {0x11, 0x22});
            Send(device, {0x33});
            WaitHandedOn(2);
            const std::string lines = Line({0x11, 0x22}) + Line({0x33, 0x00});
            if (c.quietFirst) {
                clock->RunPending();
                clock->Advance(2 * TfmConfig::LogInterval);
                EXPECT_EQ(config.Memo1.Text(), lines);
                EXPECT_FALSE(clock->HasPosted());
            }
            ASSERT_TRUE(KwFake_Unplug(device));
            WaitClosedByItself(config);
            EXPECT_TRUE(clock->HasPosted()) << "nothing was handed to the UI thread";
            clock->RunPending();
            EXPECT_FALSE(Checked(config));
            EXPECT_EQ(TUncheckWatch::Unchecks(), 1);
            EXPECT_EQ(TUncheckWatch::Seen(), lines) << "the box was cleared before the lines were shown";
            EXPECT_EQ(config.Memo1.Text(), lines);
            clock->Advance(2 * TfmConfig::LogInterval);
            config.Close();
        });
        EXPECT_TRUE(boxes().empty());
    }
}

TEST_F(ConfigHidTest, AutodetectSelectsTheDeviceThatSentABurst) {
    Add(Remote(L"Remote A", {1, 0, 0, 0, 0, 0}));
    Add(Remote(L"Remote B", {2, 0, 0, 0, 0, 0}));
    const int c = Add(Remote(L"Remote C", {3, 0, 0, 0, 0, 0}));
    engine->HidIndex = 0;
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        ASSERT_EQ(Tree(config), InputButtonTree(1));
        size_t ports = 0;
        WhenShown([&](TForm& form) {
            ports = static_cast<TfmHidAction&>(form).FPorts.size();
            PressAndWait(c, {0x42});
        });
        ClickOn(config.Button3);
        EXPECT_EQ(ports, 3u) << "the learning dialog listens on every device";
        EXPECT_EQ(config.kwHid1->DeviceIndex(), 2);
        EXPECT_EQ(Selected(HidPage(config), IDC_CF_DEVICEBOX), 2);
        EXPECT_EQ(Tree(config), InputButtonTree(3));
        EXPECT_EQ(SelectedNode(config), "General HID Info");
        const TRows rows = Properties(config);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0], (std::vector<std::string>{"Friendly Name", "Remote C"}));
        config.Close();
    });
    EXPECT_TRUE(boxes().empty());
}

TEST_F(ConfigHidTest, AutodetectCancelledKeepsTheSelection) {
    Add(Remote(L"Remote A", {1, 0, 0, 0, 0, 0}));
    Add(Remote(L"Remote B", {2, 0, 0, 0, 0, 0}));
    engine->HidIndex = 1;
    RunDialog([&](TfmConfig& config) {
        ShowHidPage(config);
        int result = -1;
        WhenShown([&](TForm& form) {
            // No burst: the countdown ends the run.
            clock->Advance(10000);
            result = form.ModalResult();
        });
        ClickOn(config.Button3);
        EXPECT_EQ(result, mrCancel);
        EXPECT_EQ(config.kwHid1->DeviceIndex(), 1);
        EXPECT_EQ(Selected(HidPage(config), IDC_CF_DEVICEBOX), 1);
        EXPECT_EQ(Tree(config), InputButtonTree(2));
        const TRows rows = Properties(config);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows[0], (std::vector<std::string>{"Friendly Name", "Remote B"}));
        config.Close();
    });
}

TEST_F(ConfigHidTest, ADeviceChangeReloadsTheListAndKeepsTheIndexWhileInRange) {
    struct TCase {
        const char* name;
        int devices;   // Remote 1 ... Remote n, Remote k with k input buttons
        int selected;  // before the change
        int add;       // devices added before the message
        int unplug;    // position of the device pulled out before it, or -1
        WPARAM event;
        std::vector<std::string> entries;
        int index;       // selected after it; -1: no device
        int shownButtons;  // input buttons of the device the page shows
    };
    const std::vector<TCase> cases = {
        {"a device arrives", 2, 1, 1, -1, DBT_DEVICEARRIVAL, {"Remote 1", "Remote 2", "Remote 3"}, 1, 2},
        {"another device goes: the index stays", 3, 1, 0, 0, DBT_DEVICEREMOVECOMPLETE, {"Remote 2", "Remote 3"}, 1, 3},
        {"the selected device goes", 3, 2, 0, 2, DBT_DEVICEREMOVECOMPLETE, {"Remote 1", "Remote 2"}, -1, 0},
        {"the device nodes changed", 1, 0, 1, -1, DBT_DEVNODES_CHANGED, {"Remote 1", "Remote 2"}, 0, 1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        NoDevices();
        std::vector<std::wstring> products;
        for (int k = 1; k <= c.devices + c.add; ++k) products.push_back(L"Remote " + std::to_wstring(k));
        std::vector<int> ids;
        for (int k = 0; k < c.devices; ++k)
            ids.push_back(Add(Remote(products[static_cast<size_t>(k)].c_str(), {static_cast<USHORT>(k + 1), 0, 0, 0, 0, 0})));
        engine->HidIndex = c.selected;
        RunDialog([&](TfmConfig& config) {
            ShowHidPage(config);
            ASSERT_EQ(Tree(config), InputButtonTree(c.selected + 1));
            for (int k = c.devices; k < c.devices + c.add; ++k)
                Add(Remote(products[static_cast<size_t>(k)].c_str(), {static_cast<USHORT>(k + 1), 0, 0, 0, 0, 0}));
            if (c.unplug >= 0) {
                ASSERT_TRUE(KwFake_Unplug(ids[static_cast<size_t>(c.unplug)]));
            }
            SendDeviceChange(config, c.event);
            EXPECT_EQ(Entries(HidPage(config), IDC_CF_DEVICEBOX), c.entries);
            EXPECT_EQ(Selected(HidPage(config), IDC_CF_DEVICEBOX), c.index);
            if (c.index < 0) {
                EXPECT_TRUE(Tree(config).empty());
                EXPECT_TRUE(Properties(config).empty());
            } else {
                EXPECT_EQ(config.kwHid1->DeviceIndex(), c.index);
                EXPECT_EQ(Tree(config), InputButtonTree(c.shownButtons));
                const TRows rows = Properties(config);
                ASSERT_FALSE(rows.empty());
                EXPECT_EQ(rows[0], (std::vector<std::string>{"Friendly Name", "Remote " + std::to_string(c.shownButtons)}));
            }
            config.Close();
        });
    }
}
TEST_F(ConfigHidTest, AnotherDeviceWhileACapabilityIsShownGetsItsOwnTree) {
    // Remote 3 is selected and shows its last button; then the page moves to a device of
    // one button: picked from the box, or at the same index after Remote 1 went.
    struct TCase {
        const char* name;
        bool byDeviceChange;
        const char* shown;
    };
    for (const TCase& c : {TCase{"picked", false, "Remote 1"}, TCase{"device change", true, "Remote 2"}}) {
        SCOPED_TRACE(c.name);
        NoDevices();
        boxes().clear();
        const int first = Add(Remote(L"Remote 1", {1, 0, 0, 0, 0, 0}));
        Add(Remote(L"Remote 3", {3, 0, 0, 0, 0, 0}));
        Add(Remote(L"Remote 2", {1, 0, 0, 0, 0, 0}));
        engine->HidIndex = 1;
        RunDialog([&](TfmConfig& config) {
            ShowHidPage(config);
            SelectNode(config, "Input Button 2");
            ASSERT_EQ(Properties(config).size(), 9u);
            if (c.byDeviceChange) {
                ASSERT_TRUE(KwFake_Unplug(first));
                SendDeviceChange(config, DBT_DEVICEREMOVECOMPLETE);
            } else {
                PickDevice(config, 0);
            }
            EXPECT_EQ(Tree(config), InputButtonTree(1));
            EXPECT_EQ(SelectedNode(config), "General HID Info");
            const TRows rows = Properties(config);
            ASSERT_FALSE(rows.empty());
            EXPECT_EQ(rows[0], (std::vector<std::string>{"Friendly Name", c.shown}));
            config.Close();
        });
        EXPECT_TRUE(boxes().empty()) << boxes().front().text;
    }
}

TEST_F(ConfigHidTest, TheHidPageIsHiddenAtEveryOpening) {
    Add(Remote(L"Remote", {1, 0, 0, 0, 0, 0}));
    engine->HidIndex = 0;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        std::vector<std::string> before, after;
        int active = -1;
        RunDialog([&](TfmConfig& config) {
            before = Tabs(config);
            ShowHidPage(config);
            after = Tabs(config);
            active = config.ActivePage();
            config.Close();
        });
        EXPECT_EQ(std::count(before.begin(), before.end(), "HID Info"), 0);
        EXPECT_EQ(std::count(after.begin(), after.end(), "HID Info"), 1);
        EXPECT_EQ(active, TfmConfig::pgHid);
    }
}
