// The resizable dialog classes, on the dialog library's CDlg (common/Dlg.h):
// CSizingDlg, a modal dialog the user can resize, with a size grip, controls
// anchored to its edges and a placement remembered in the settings;
// QlControlAnchor, one anchored control; and CSizingComDlg, the same for
// the hook dialog of the system's file-open dialog, which also remembers the
// file list's view mode and sort column.
#pragma once

#include <cstdint>

#include <windows.h>

#include "common/Dlg.h"
#include "common/QlString.h"

// What an anchored control does when the dialog grows or shrinks: its size
// and its position each keep (0x01) or follow the width change (0x04), the
// height change (0x08) or both (0x0C).
enum QlAnchorFlags : uint8_t {
    kAnchorKeep = 0x01,
    kAnchorWidth = 0x04,
    kAnchorHeight = 0x08,
    kAnchorBoth = 0x0C,
};

class QlControlAnchor {
public:
    // Refused (an internal-consistency report, the anchor then keeps the
    // control where it is): both flag words following the same change, a
    // word with 0x01 and more, and a control that moves with both changes
    // or grows with both but does not keep the other word.
    QlControlAnchor(HWND control, uint8_t size_flags, uint8_t position_flags);
    virtual ~QlControlAnchor() = default;
    QlControlAnchor(const QlControlAnchor&) = delete;
    QlControlAnchor& operator=(const QlControlAnchor&) = delete;

    // Applies the change to the control (through the batch when there is
    // one), then, chained, to the next anchors.
    virtual void Move(int dx, int dy, bool chain, HDWP* batch);
    virtual void SetNext(QlControlAnchor* next) { next_ = next; }
    virtual QlControlAnchor* GetNext() const { return next_; }

    HWND Control() const { return control_; }
    static bool ValidFlags(uint8_t size_flags, uint8_t position_flags);

private:
    HWND control_;
    uint8_t size_flags_;
    uint8_t position_flags_;
    QlControlAnchor* next_ = nullptr;
};

#pragma pack(push, 1)
// The remembered placement: the normal window rectangle in screen
// coordinates, whether the dialog was maximised, and the session it belongs
// to (0: every session). Kept as a profile struct.
struct QlSavedPlacement {
    int32_t left, top, right, bottom;
    uint8_t zoomed;
    uint32_t session;
};
#pragma pack(pop)
static_assert(sizeof(QlSavedPlacement) == 21, "the placement is 21 bytes");

// The profile of the placements and view states, and their section.
extern const wchar_t kSizingProfile[];  // "quollase.ini"
extern const wchar_t kSizingSection[];  // "Quolla Self-Extractor"

// The id of the size grip.
const int kSizeGripId = 0x2B17;

class CSizingDlg : public CDlg {
public:
    explicit CSizingDlg(int template_id, HWND owner = nullptr, LPARAM user = 0, bool centre = true,
                        int help_id = kQlDlgNoHelp);
    ~CSizingDlg() override;

    // With the thick frame when resizable; the owner is used even when hidden.
    INT_PTR DoModal() override;
    // The base, the initial size, and the size grip when resizable.
    BOOL OnInitDialog() override;
    bool OnSize(UINT type, int width, int height) override;
    bool OnGetMinMaxInfo(MINMAXINFO* info) override;
    bool OnSizing(UINT edge, RECT* rect) override;
    void OnMove(int x, int y) override;
    void OnMoving(RECT* rect) override;
    bool OnPaint() override;
    bool OnSysColorChange() override { return false; }

    virtual void RepositionControls();
    virtual void RecordInitialSize();
    virtual void SaveState();
    // The saved rectangle (empty when there is none to use) and whether the
    // dialog was maximised.
    virtual void GetSavedRect(RECT* rect, bool* zoomed);
    // To the saved placement, or centred.
    virtual void RestoreState();
    virtual bool LoadPlacementNamed(const QlStr& name, QlSavedPlacement* placement);
    virtual bool LoadPlacement(QlSavedPlacement* placement);
    virtual bool SavePlacementNamed(const QlStr& name, const QlSavedPlacement& placement);
    virtual bool SavePlacement(const QlSavedPlacement& placement);

    // A new anchor goes to the head of the chain; the dialog owns it.
    void AddAnchor(QlControlAnchor* anchor);
    void AddAnchor(int control_id, uint8_t size_flags, uint8_t position_flags);
    // A name is kept and allows restoring; null: nothing is remembered.
    void SetStateName(const QlChar* name);
    const QlStr& StateName() const { return state_name_; }
    bool Resizable() const { return resizable_; }
    void SetSessionTag(uint32_t tag) { session_tag_ = tag; }
    uint32_t SessionTag() const { return session_tag_; }
    int AnchorCount() const { return anchor_count_; }
    SIZE InitialSize() const { return initial_size_; }

protected:
    QlControlAnchor* anchors_ = nullptr;
    SIZE initial_size_ = {0, 0};
    SIZE last_size_ = {0, 0};
    bool resizable_;
    bool restore_allowed_ = false;
    HWND size_grip_ = nullptr;
    bool moved_or_sized_ = false;
    QlStr state_name_;
    uint32_t session_tag_ = 0;
    QlSavedPlacement placement_ = {};
    int anchor_count_ = 0;
    bool deferred_ = true;
};

// The hook dialog of an explorer-style file-open dialog (OFN_ENABLEHOOK):
// the caller's hook procedure creates the object (new) on WM_INITDIALOG with
// the hook dialog's window; the object then takes the hook dialog's and the
// file dialog's procedures over, hands them on what it does not handle, and
// is deleted with the hook dialog. The file dialog runs itself, so DoModal
// answers 0.
class CSizingComDlg : public CSizingDlg {
public:
    CSizingComDlg(HWND hook_dialog, int template_id, HWND owner, const QlChar* state_name, LPARAM user = 0);
    ~CSizingComDlg() override;

    INT_PTR DoModal() override { return 0; }
    BOOL OnInitDialog() override { return FALSE; }
    bool OnSize(UINT type, int width, int height) override;
    void OnMove(int x, int y) override;
    bool OnCommandId(int id) override { return id == 9; }
    bool OnCommand(int id, int code, HWND control) override;
    void RecordInitialSize() override;
    void RestoreState() override;

    // The file list's view and sort command ids, saved and restored with
    // the session tag.
    virtual bool LoadViewState();
    virtual void SaveViewState();
    int GetTemplateId() const { return TemplateId(); }
    const QlStr& GetStateName() const { return StateName(); }
    LPARAM GetUserData() const { return UserValue(); }

    struct ViewState {
        uint32_t session;
        int32_t view_command;
        int32_t sort_command;
        int32_t reserved;
    };

private:
    static LRESULT CALLBACK ParentProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static INT_PTR CALLBACK Procedure(HWND hook, UINT message, WPARAM wparam, LPARAM lparam);
    HWND FileView() const;
    bool ViewStateWanted() const;

    WNDPROC old_hook_procedure_ = nullptr;
    WNDPROC old_parent_procedure_ = nullptr;
    bool positioned_ = false;
    ViewState view_ = {0, -1, -1, 0};
};

// The common-controls version of the view state's rules (major * 100 +
// minor); 600 and up use the list view's own view query.
void set_sizing_common_controls_version(int version);
// The view command id of a file-list view (0 to 5) under the given rules.
int sizing_view_command(int view, int controls_version, bool windows_me);
