// The dialog framework through a real dialog: command handlers by id and
// notification code, the combo box and radio button helpers, answers of
// OnMessage, and the dialog's icon. The dialog runs modally on a thread of
// its own while the test drives it as a person or the system would.
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <vector>
#include "dialog.h"
#include "dialogtest.h"
#include "windowdriver.h"

namespace {

const char kCaption[] = "Dialog framework test";

class FrameworkDialog : public CDialog {
public:
    explicit FrameworkDialog(UINT idIcon) : CDialog(IDD_FRAMEWORK, idIcon)
    {
        OnClicked(IDC_START, [this] { Note("replaced"); });
        OnClicked(IDC_START, [this] { Note("OnStart"); });
        OnSelChange(IDC_MODEL, [this] { Note("OnSelchangeModel " + m_model.SelectedText()); });
        OnSelChange(IDC_PORT, [this] { Note("OnSelchangePort " + m_port.SelectedText()); });
        OnCommand(IDC_MODEL, CBN_DROPDOWN, [this] { Note("model dropdown"); });
        OnClicked(IDC_INSTALL, [this] { Note("OnInstall"); });
        OnClicked(IDC_UNINSTALL, [this] { Note("OnUninstall"); });
        OnCommandId(IDC_ANY, [this] { Note("any"); });
        OnCommandId(IDOK, [this] { End(IDOK); });
    }
    // What the handlers saw, in order, since the last call.
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<std::string> notes;
        notes.swap(m_notes);
        return notes;
    }
    CComboBox m_model, m_port;
    CRadioGroup m_action;
    HBRUSH m_hBrush = (HBRUSH)GetStockObject(GRAY_BRUSH);

protected:
    BOOL OnInitDialog() override
    {
        Bind(m_model, IDC_MODEL);
        Bind(m_port, IDC_PORT);
        Bind(m_action, IDC_INSTALL, IDC_REINSTALL);
        return TRUE;
    }
    BOOL OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT *pResult) override
    {
        if (msg == WM_CTLCOLORSTATIC)
            *pResult = (LRESULT)m_hBrush;
        else if (msg == WM_APP)
            *pResult = 42;
        else
            return FALSE;
        return TRUE;
    }

private:
    void Note(const std::string &note)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notes.push_back(note);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_notes;
};

class DialogTest : public ::testing::Test {
protected:
    // Shows the dialog with the icon (or none) and waits until it is visible;
    // TearDown ends it.
    HWND Show(UINT idIcon)
    {
        dialog.reset(new FrameworkDialog(idIcon));
        modal.reset(new ModalCall([this] { return (LONG)dialog->DoModal(GetModuleHandleA(NULL)); }));
        hDlg = WaitForWindow(kCaption, 5000);
        // The dialog shows itself once OnInitDialog has bound the controls.
        WaitUntil([&] { return hDlg && IsWindowVisible(hDlg); }, 5000);
        return hDlg;
    }
    void TearDown() override
    {
        if (!modal)
            return;
        LONG result;
        if (!modal->Done(&result))
            PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        EXPECT_EQ(IDOK, modal->Wait());
        modal.reset();
    }
    // A WM_COMMAND as a control sends it; returns what the handlers noted.
    std::vector<std::string> Command(int id, WORD code)
    {
        SendMessageA(hDlg, WM_COMMAND, MAKEWPARAM(id, code), (LPARAM)GetDlgItem(hDlg, id));
        return dialog->Take();
    }
    std::unique_ptr<FrameworkDialog> dialog;
    std::unique_ptr<ModalCall> modal;
    HWND hDlg = nullptr;
};

using Notes = std::vector<std::string>;

} // namespace

TEST_F(DialogTest, CommandRunsTheHandlerOfItsIdAndCode)
{
    ASSERT_TRUE(Show(0));
    struct {
        int id;
        WORD code;
        Notes notes;
    } cases[] = {
        {IDC_MODEL, CBN_SELCHANGE, {"OnSelchangeModel "}},
        {IDC_PORT, CBN_SELCHANGE, {"OnSelchangePort "}},
        {IDC_MODEL, CBN_DROPDOWN, {"model dropdown"}},
        {IDC_MODEL, CBN_SELENDOK, {}},          // no handler for this code
        {IDC_PORT, (WORD)CBN_ERRSPACE, {}},         // 0xFFFF is a code, not "any"
        {IDC_START, BN_CLICKED, {"OnStart"}},   // the second registration replaced the first
        {IDC_START, BN_DOUBLECLICKED, {}},
        {IDC_INSTALL, BN_CLICKED, {"OnInstall"}},
        {IDC_ANY, BN_CLICKED, {"any"}},         // any code of its id
        {IDC_ANY, 1, {"any"}},
        {IDC_ANY, (WORD)CBN_ERRSPACE, {"any"}},
        {999, BN_CLICKED, {}},                  // no handler for this id
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++)
        EXPECT_EQ(cases[i].notes, Command(cases[i].id, cases[i].code)) << "case " << i;
}

TEST_F(DialogTest, ClicksAndSelectionsOfTheControlsReachTheirHandlers)
{
    ASSERT_TRUE(Show(0));
    dialog->m_model.AddString("Ostrel TZ-1000");
    dialog->m_model.AddString("Ostrel TZ-2000");
    dialog->m_model.SetCurSel(0);
    SendDlgItemMessageA(hDlg, IDC_START, BM_CLICK, 0, 0);
    EXPECT_EQ(Notes{"OnStart"}, dialog->Take());
    SendDlgItemMessageA(hDlg, IDC_UNINSTALL, BM_CLICK, 0, 0);
    EXPECT_EQ(Notes{"OnUninstall"}, dialog->Take());
    EXPECT_EQ(IDC_UNINSTALL, dialog->m_action.Checked());
    // The arrow key in the closed list selects the next entry and notifies.
    SendDlgItemMessageA(hDlg, IDC_MODEL, WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_EQ(Notes{"OnSelchangeModel Ostrel TZ-2000"}, dialog->Take());
}

TEST_F(DialogTest, ComboBoxHelpersAddSelectAndReadWithoutNotifying)
{
    ASSERT_TRUE(Show(0));
    const CComboBox &model = dialog->m_model;
    EXPECT_EQ(0, model.AddString("Ostrel TZ-2000"));
    EXPECT_EQ(0, model.AddString("Ostrel TZ-1000"));  // the list is sorted
    std::string longName = "Ostrel " + std::string(300, 'X');
    EXPECT_EQ(2, model.AddString(longName.c_str()));
    EXPECT_EQ(CB_ERR, model.GetCurSel());
    EXPECT_EQ("", model.SelectedText());
    EXPECT_TRUE(model.SetCurSel(1));
    EXPECT_EQ(1, model.GetCurSel());
    EXPECT_EQ("Ostrel TZ-2000", model.SelectedText());
    EXPECT_TRUE(model.SetCurSel(2));
    EXPECT_EQ(longName, model.SelectedText());          // no fixed buffer
    EXPECT_FALSE(model.SetCurSel(3));                   // past the end
    EXPECT_TRUE(model.SetCurSel(0));
    EXPECT_TRUE(model.SetCurSel(-1));
    EXPECT_EQ(CB_ERR, model.GetCurSel());

    // A combo with an edit: with nothing selected its text is what is typed.
    const CComboBox &port = dialog->m_port;
    EXPECT_EQ(0, port.AddString("LPT1:"));
    EXPECT_EQ(1, port.AddString("COM1:"));
    port.SetText("COM9:");
    EXPECT_EQ("COM9:", port.SelectedText());
    EXPECT_TRUE(port.SetCurSel(1));
    EXPECT_EQ("COM1:", port.SelectedText());
    EXPECT_EQ(Notes{}, dialog->Take()) << "only the user's choice notifies";
}

TEST_F(DialogTest, RadioGroupChecksOneButtonAndTellsWhichIsChecked)
{
    ASSERT_TRUE(Show(0));
    const CRadioGroup &action = dialog->m_action;
    EXPECT_EQ(0, action.Checked());
    struct {
        int check, checked;
    } cases[] = {
        {IDC_UNINSTALL, IDC_UNINSTALL},
        {IDC_REINSTALL, IDC_REINSTALL},
        {IDC_INSTALL, IDC_INSTALL},
        {0, 0},                             // outside the group: none checked
    };
    for (const auto &c : cases) {
        EXPECT_TRUE(action.Check(c.check)) << c.check;
        EXPECT_EQ(c.checked, action.Checked()) << c.check;
        for (int id = IDC_INSTALL; id <= IDC_REINSTALL; id++)
            EXPECT_EQ(id == c.checked ? BST_CHECKED : BST_UNCHECKED, IsDlgButtonChecked(hDlg, id))
                << c.check << " " << id;
    }
    EXPECT_EQ(Notes{}, dialog->Take()) << "checking is no click";
}

TEST_F(DialogTest, OnMessageAnswersReachTheSender)
{
    ASSERT_TRUE(Show(0));
    // A colour message answers through the return value, others through
    // DWLP_MSGRESULT.
    HWND label = GetDlgItem(hDlg, IDC_INSTALL);
    EXPECT_EQ((LRESULT)dialog->m_hBrush, SendMessageA(hDlg, WM_CTLCOLORSTATIC, 0, (LPARAM)label));
    EXPECT_EQ(42, SendMessageA(hDlg, WM_APP, 0, 0));
}

TEST_F(DialogTest, NamedIconIsSetAndServesAsDragIcon)
{
    ASSERT_TRUE(Show(IDI_FRAMEWORK));
    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_FRAMEWORK));
    ASSERT_TRUE(icon);
    EXPECT_EQ((LRESULT)icon, SendMessageA(hDlg, WM_GETICON, ICON_BIG, 0));
    EXPECT_EQ((LRESULT)icon, SendMessageA(hDlg, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ((LRESULT)icon, SendMessageA(hDlg, WM_QUERYDRAGICON, 0, 0));
}

TEST_F(DialogTest, DialogWithoutIconHasNone)
{
    ASSERT_TRUE(Show(0));
    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_FRAMEWORK));
    EXPECT_EQ(0, SendMessageA(hDlg, WM_GETICON, ICON_BIG, 0));
    EXPECT_NE((LRESULT)icon, SendMessageA(hDlg, WM_QUERYDRAGICON, 0, 0));
}

// While minimised, a dialog with an icon draws it centred in its client
// area. (Wine paints a window marked minimised through a DC whose origin is
// the window's corner, not the client area's: the place is checked loosely.)
TEST_F(DialogTest, MinimisedDialogDrawsItsIconCentred)
{
    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_FRAMEWORK));
    for (UINT idIcon : {(UINT)IDI_FRAMEWORK, 0u}) {
        ASSERT_TRUE(Show(idIcon));
        POINT at = {-1, -1};
        bool found = FindIconWhileMinimised(hDlg, icon, idIcon ? 3000 : 500, &at);
        EXPECT_TRUE(IsIconic(hDlg));
        if (idIcon) {
            ASSERT_TRUE(found) << "no icon on the screen";
            RECT rc;
            GetWindowRect(hDlg, &rc);
            int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
            EXPECT_NEAR(at.x + GetSystemMetrics(SM_CXICON) / 2, cx / 2, cx / 6) << at.x;
            EXPECT_NEAR(at.y + GetSystemMetrics(SM_CYICON) / 2, cy / 2, cy / 6) << at.y;
        } else {
            EXPECT_FALSE(found) << "an icon at " << at.x << "," << at.y;
        }
        TearDown();
    }
}
