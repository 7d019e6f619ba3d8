// Forms: windows built from their declared designs, with the dialog manager
// doing the keyboard work (Tab order, Enter for the default button, Escape
// for the cancel button) and one procedure routing notifications to the
// handlers a form binds.
#include "forms.h"

#include <vector>

// Extra height of a drop-down list's window for its open list.
static const int DropDownListHeight = 120;

static HINSTANCE ProgramInstance()
{
    return GetModuleHandleA(nullptr);
}

// The program's name, from its file name, as the caption of fatal messages.
static std::string ProgramTitle()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string name = path;
    size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

// Any failure the program cannot recover from: say what and end.
[[noreturn]] static void FatalError(const std::string &text)
{
    MessageBoxA(nullptr, text.c_str(), ProgramTitle().c_str(), MB_OK | MB_ICONSTOP | MB_TASKMODAL);
    EndProgram(1);
}

void EndProgram(UINT exitCode)
{
    ExitProcess(exitCode);
}

// --- Design units ---------------------------------------------------------

static int ScreenDotsPerInch(int axis)
{
    HDC screen = GetDC(nullptr);
    int dots = GetDeviceCaps(screen, axis);
    ReleaseDC(nullptr, screen);
    return dots;
}

static int ToPixelsX(const FormDesign &design, int value)
{
    return design.units == Pixels ? value : MulDiv(value, ScreenDotsPerInch(LOGPIXELSX), 1440);
}

static int ToPixelsY(const FormDesign &design, int value)
{
    return design.units == Pixels ? value : MulDiv(value, ScreenDotsPerInch(LOGPIXELSY), 1440);
}

// --- Finding forms and controls from windows ------------------------------

static Form *FormOfWindow(HWND window)
{
    if (!window)
        return nullptr;
    Form *form = reinterpret_cast<Form *>(GetWindowLongA(window, DWL_USER));
    return form && form->hwnd == window ? form : nullptr;
}

// The form and design row of a control window, or null.
static const ControlDesign *ControlOfWindow(HWND control, Form **owner, int *index)
{
    if (!(GetWindowLongA(control, GWL_STYLE) & WS_CHILD))
        return nullptr;
    Form *form = FormOfWindow(GetParent(control));
    if (!form)
        return nullptr;
    int row = GetDlgCtrlID(control) - ControlFirstId;
    if (row < 0 || row >= form->design.controls.count)
        return nullptr;
    *owner = form;
    *index = row;
    return &form->design.controls.entries[row];
}

HWND Form::operator[](int control) const
{
    return hwnd ? GetDlgItem(hwnd, ControlFirstId + control) : nullptr;
}

static void RunHandler(Form &form, int control, ControlEvent event)
{
    const DesignTable<EventBinding> &events = form.design.events;
    for (int i = 0; i < events.count; i++)
        if (events.entries[i].control == control && events.entries[i].event == event) {
            events.entries[i].handler();
            return;
        }
}

// --- Creating a form ------------------------------------------------------

// A picture names a bitmap of the program, an icon of the program, or a
// system icon.
static bool IsBitmapPicture(const char *name)
{
    return name && FindResourceA(ProgramInstance(), name, RT_BITMAP) != nullptr;
}

static void SetPicture(HWND image, const char *name)
{
    HINSTANCE instance = ProgramInstance();
    if (IsBitmapPicture(name)) {
        SendMessageA(image, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)LoadBitmapA(instance, name));
        return;
    }
    HICON icon = LoadIconA(instance, name);
    if (!icon)
        icon = LoadIconA(nullptr, name);
    SendMessageA(image, STM_SETICON, (WPARAM)icon, 0);
}

struct ControlClass {
    const char *className;
    DWORD style;
    DWORD exStyle;
};

static ControlClass ClassOfControl(const ControlDesign &control)
{
    const DWORD focusable = WS_TABSTOP | WS_GROUP;
    switch (control.kind) {
    case Label: {
        DWORD align = (control.options & AlignRight) ? SS_RIGHT : (control.options & AlignCenter) ? SS_CENTER : SS_LEFT;
        return {"STATIC", align, 0};
    }
    case TextBox:
        return {"EDIT",
                ES_AUTOHSCROLL | focusable | ((control.options & ReadOnly) ? ES_READONLY : 0) |
                    ((control.options & UpperCase) ? ES_UPPERCASE : 0),
                WS_EX_CLIENTEDGE};
    case ListBox:
        return {"LISTBOX", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | focusable, WS_EX_CLIENTEDGE};
    case SortedListBox:
        return {"LISTBOX", LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_HSCROLL | focusable,
                WS_EX_CLIENTEDGE};
    case DropDownList:
        return {"COMBOBOX", CBS_DROPDOWNLIST | WS_VSCROLL | focusable, 0};
    case CheckBox:
        return {"BUTTON", BS_3STATE | BS_NOTIFY | focusable, 0};
    case CommandButton:
        return {"BUTTON", ((control.options & DefaultButton) ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON) | BS_NOTIFY | focusable,
                0};
    case Frame:
        return {"BUTTON", BS_GROUPBOX, 0};
    case Image:
        return {"STATIC", IsBitmapPicture(control.caption) ? (DWORD)SS_BITMAP : (DWORD)SS_ICON, 0};
    }
    return {"STATIC", 0, 0};
}

static HFONT CreateDesignFont(const FontDesign &font)
{
    int height = -MulDiv(font.points, ScreenDotsPerInch(LOGPIXELSY), 72);
    return CreateFontA(height, 0, 0, 0, font.weight, font.italic, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, font.face);
}

// Every control without a font of its own shows its text in this one; the
// forms' layouts are measured for it. Made once, kept for the whole run.
static HFONT CommonFont()
{
    static const FontDesign common = {"MS Sans Serif", 8, FW_NORMAL, false, 0};
    static HFONT font = CreateDesignFont(common);
    return font;
}

static void CreateControls(Form &form)
{
    const FormDesign &design = form.design;
    int frameLeft = 0, frameTop = 0;
    for (int i = 0; i < design.controls.count; i++) {
        const ControlDesign &control = design.controls.entries[i];
        ControlClass cls = ClassOfControl(control);
        DWORD style = WS_CHILD | cls.style | ((control.options & Invisible) ? 0 : WS_VISIBLE) |
                      ((control.options & Disabled) ? WS_DISABLED : 0);
        int left = control.left, top = control.top;
        if (control.options & InFrame) {
            left += frameLeft;
            top += frameTop;
        }
        if (control.kind == Frame) {
            frameLeft = left;
            frameTop = top;
        }
        int height = ToPixelsY(design, control.height) + (control.kind == DropDownList ? DropDownListHeight : 0);
        const char *text = (control.kind == Image || control.kind == DropDownList) ? "" : control.caption;
        HWND window = CreateWindowExA(cls.exStyle, cls.className, text ? text : "", style, ToPixelsX(design, left),
                                      ToPixelsY(design, top), ToPixelsX(design, control.width), height, form.hwnd,
                                      (HMENU)(INT_PTR)(ControlFirstId + i), ProgramInstance(), nullptr);
        if (!window)
            FatalError(std::string("The control '") + control.name + "' of '" + design.name + "' cannot be created.");
        SendMessageA(window, WM_SETFONT, (WPARAM)(control.font ? CreateDesignFont(*control.font) : CommonFont()), FALSE);
        if (control.kind == Image && control.caption)
            SetPicture(window, control.caption);
        if (control.kind == DropDownList && control.caption)
            ListAddItem(window, control.caption);
        if (control.options & DefaultButton)
            SendMessageA(form.hwnd, DM_SETDEFID, ControlFirstId + i, 0);
    }
}

static std::string FunctionKeyName(UINT key)
{
    char name[8];
    wsprintfA(name, "F%u", key - VK_F1 + 1);
    return name;
}

// Builds the form's menu bar and the shortcut table of its items.
static void CreateMenuBar(Form &form)
{
    const DesignTable<MenuDesign> &menu = form.design.menu;
    if (menu.count == 0)
        return;
    HMENU bar = CreateMenu();
    HMENU popup = nullptr;
    std::vector<ACCEL> shortcuts;
    for (int i = 0; i < menu.count; i++) {
        const MenuDesign &entry = menu.entries[i];
        if (entry.level == 0) {
            popup = CreatePopupMenu();
            AppendMenuA(bar, MF_POPUP, (UINT_PTR)popup, entry.caption);
        } else if (lstrcmpA(entry.caption, "-") == 0) {
            AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
        } else {
            std::string caption = entry.caption;
            if (entry.shortcut) {
                caption += '\t';
                caption += FunctionKeyName(entry.shortcut);
                shortcuts.push_back({FVIRTKEY, (WORD)entry.shortcut, (WORD)(MenuFirstId + i)});
            }
            AppendMenuA(popup, MF_STRING | (entry.click ? 0 : MF_GRAYED), MenuFirstId + i, caption.c_str());
        }
    }
    SetMenu(form.hwnd, bar);
    if (!shortcuts.empty())
        form.shortcuts = CreateAcceleratorTableA(shortcuts.data(), (int)shortcuts.size());
}

static void SetFormIcon(Form &form)
{
    if (!form.design.icon)
        return;
    const char *name = MAKEINTRESOURCEA(form.design.icon);
    SendMessageA(form.hwnd, WM_SETICON, ICON_BIG, (LPARAM)LoadIconA(ProgramInstance(), name));
    SendMessageA(form.hwnd, WM_SETICON, ICON_SMALL,
                 (LPARAM)LoadImageA(ProgramInstance(), name, IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                    GetSystemMetrics(SM_CYSMICON), 0));
}

// Places the window so that its client area has the designed position and size.
static void PlaceClientArea(Form &form)
{
    const FormDesign &design = form.design;
    int left = ToPixelsX(design, design.left), top = ToPixelsY(design, design.top);
    RECT outer = {left, top, left + ToPixelsX(design, design.width), top + ToPixelsY(design, design.height)};
    AdjustWindowRectEx(&outer, GetWindowLongA(form.hwnd, GWL_STYLE), GetMenu(form.hwnd) != nullptr,
                       GetWindowLongA(form.hwnd, GWL_EXSTYLE));
    SetWindowPos(form.hwnd, nullptr, outer.left, outer.top, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

static INT_PTR CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The form whose message loop runs: the innermost modal form, or the main
// form. Commands run in it, so it owns their new forms and message boxes,
// also while another program is in the foreground.
static Form *commandForm;

static HWND CommandFormWindow()
{
    return commandForm && commandForm->hwnd ? commandForm->hwnd : GetActiveWindow();
}

static HWND CreateFormWindow(Form &form)
{
    // An empty dialog template: the controls are created from the design.
    struct alignas(4) {
        DLGTEMPLATE header;
        WORD menu, windowClass, title;
    } empty = {};
    empty.header.style = form.design.border == FixedSingle
                             ? WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
                             : WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    // The form that runs the current command owns the new form until
    // ShowModal names its owner.
    return CreateDialogIndirectParamA(ProgramInstance(), &empty.header, CommandFormWindow(), FormProc,
                                      reinterpret_cast<LPARAM>(&form));
}

void LoadForm(Form &form)
{
    if (form.hwnd)
        return;
    if (!CreateFormWindow(form))
        FatalError(std::string("The window '") + form.design.name + "' cannot be created.");
    SetWindowTextA(form.hwnd, form.design.caption);
    CreateMenuBar(form);
    SetFormIcon(form);
    CreateControls(form);
    PlaceClientArea(form);
    form.bError = false;
    if (form.design.load)
        form.design.load();
}

void UnloadForm(Form &form)
{
    if (!form.hwnd)
        return;
    if (form.design.unload)
        form.design.unload();
    else
        ReleaseForm(form);
}

// What the controls were given that the form must free: their own fonts
// and pictures.
static std::vector<HGDIOBJ> OwnedObjects(Form &form)
{
    std::vector<HGDIOBJ> owned;
    for (int i = 0; i < form.design.controls.count; i++) {
        const ControlDesign &control = form.design.controls.entries[i];
        HWND controlWindow = form[i];
        if (control.font)
            owned.push_back((HGDIOBJ)SendMessageA(controlWindow, WM_GETFONT, 0, 0));
        else if (control.kind == Image && (GetWindowLongA(controlWindow, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            owned.push_back((HGDIOBJ)SendMessageA(controlWindow, STM_GETIMAGE, IMAGE_BITMAP, 0));
    }
    return owned;
}

// Frees what the form was given and forgets the instance, so the next use
// loads a fresh form. Runs when the form's window is destroyed, by
// ReleaseForm or otherwise (with its owner, or by another program).
static void ForgetInstance(Form &form)
{
    std::vector<HGDIOBJ> owned = OwnedObjects(form);
    HWND owner = form.modalOwner;
    if (form.shortcuts)
        DestroyAcceleratorTable(form.shortcuts);
    form.hwnd = nullptr;
    form.bError = false;
    form.pointer = DefaultPointer;
    form.modalOwner = nullptr;
    form.shortcuts = nullptr;
    if (owner)
        EnableWindow(owner, TRUE);
    for (HGDIOBJ object : owned)
        DeleteObject(object);
    // A close sent by another program is handled inside GetMessageA, which
    // would go on waiting: a posted message wakes the form's loop to see it end.
    PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
}

void ReleaseForm(Form &form)
{
    HWND window = form.hwnd;
    if (!window)
        return;
    // The owner takes input again before the form goes, so activation
    // returns to it rather than to another program.
    HWND owner = form.modalOwner;
    if (owner)
        EnableWindow(owner, TRUE);
    DestroyWindow(window);
    if (owner)
        SetActiveWindow(owner);
}

// --- Running forms --------------------------------------------------------

// Gives the focus to the first control in tab order that can take it.
static void FocusFirstControl(Form &form)
{
    for (int i = 0; i < form.design.controls.count; i++) {
        HWND control = form[i];
        if ((GetWindowLongA(control, GWL_STYLE) & WS_TABSTOP) && IsWindowVisible(control) && IsWindowEnabled(control)) {
            SendMessageA(form.hwnd, WM_NEXTDLGCTL, (WPARAM)control, TRUE);
            return;
        }
    }
    SetFocus(form.hwnd);
}

// Dispatches messages until the form is unloaded; false when the program
// was asked to quit first (the request is passed on to the outer loop).
static bool RunUntilUnloaded(Form &form)
{
    Form *outerForm = commandForm;
    commandForm = &form;
    bool unloaded = true;
    MSG message;
    while (form.hwnd) {
        int got = GetMessageA(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage((int)message.wParam);
            unloaded = false;
            break;
        }
        if (form.shortcuts && TranslateAcceleratorA(form.hwnd, form.shortcuts, &message))
            continue;
        if (IsDialogMessageA(form.hwnd, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    commandForm = outerForm;
    return unloaded;
}

void ShowModal(Form &form, Form &owner)
{
    LoadForm(form);
    if (!form.hwnd)
        return;
    if ((HWND)GetWindowLongA(form.hwnd, GWL_HWNDPARENT) != owner.hwnd)
        SetWindowLongA(form.hwnd, GWL_HWNDPARENT, (LONG)owner.hwnd);
    form.modalOwner = owner.hwnd;
    EnableWindow(owner.hwnd, FALSE);
    ShowWindow(form.hwnd, SW_SHOW);
    FocusFirstControl(form);
    if (!RunUntilUnloaded(form))
        ReleaseForm(form);
}

int RunProgram(Form &mainForm)
{
    LoadForm(mainForm);
    if (!mainForm.hwnd)
        return 0;
    ShowWindow(mainForm.hwnd, SW_SHOWNORMAL);
    FocusFirstControl(mainForm);
    RunUntilUnloaded(mainForm);
    ReleaseForm(mainForm);
    return 0;
}

std::string Command()
{
    const char *line = GetCommandLineA();
    // The program's name, quoted when it holds blanks.
    if (*line == '"') {
        line++;
        while (*line && *line != '"')
            line++;
        if (*line)
            line++;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            line++;
    }
    while (*line == ' ' || *line == '\t')
        line++;
    return line;
}

// --- The forms' window procedure ------------------------------------------

// The event a control's notification raises, if any.
static bool EventOfNotification(ControlKind kind, UINT code, ControlEvent *event)
{
    switch (kind) {
    case TextBox:
        if (code == EN_CHANGE)
            *event = Change;
        else if (code == EN_SETFOCUS)
            *event = GotFocus;
        else
            return false;
        return true;
    case ListBox:
    case SortedListBox:
        if (code == LBN_SELCHANGE)
            *event = Click;
        else if (code == LBN_DBLCLK)
            *event = DblClick;
        else if (code == LBN_SETFOCUS)
            *event = GotFocus;
        else
            return false;
        return true;
    case DropDownList:
        if (code == CBN_SELCHANGE)
            *event = Click;
        else if (code == CBN_SETFOCUS)
            *event = GotFocus;
        else
            return false;
        return true;
    case CheckBox:
    case CommandButton:
        if (code == BN_CLICKED)
            *event = Click;
        else if (code == BN_SETFOCUS)
            *event = GotFocus;
        else
            return false;
        return true;
    default:
        return false;
    }
}

static void ClickCancelButton(Form &form)
{
    for (int i = 0; i < form.design.controls.count; i++)
        if (form.design.controls.entries[i].options & CancelButton) {
            if (IsWindowEnabled(form[i]))
                RunHandler(form, i, Click);
            return;
        }
}

static void OnCommand(Form &form, int id, UINT code)
{
    if (id == IDCANCEL) {
        ClickCancelButton(form);
        return;
    }
    if (id >= MenuFirstId && id < MenuFirstId + form.design.menu.count) {
        const MenuDesign &entry = form.design.menu.entries[id - MenuFirstId];
        if (entry.click)
            entry.click();
        return;
    }
    int index = id - ControlFirstId;
    if (index < 0 || index >= form.design.controls.count)
        return;
    const ControlDesign &control = form.design.controls.entries[index];
    ControlEvent event;
    if (!EventOfNotification(control.kind, code, &event))
        return;
    if (control.kind == CheckBox && event == Click)
        SetCheckValue(form[index], CheckValue(form[index]) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    RunHandler(form, index, event);
}

// Colours of labels with their own colour or a transparent background, and
// of every static control on a form with a fill colour of its own.
static INT_PTR OnStaticColor(Form &form, HDC dc, HWND control)
{
    Form *owner;
    int index;
    const ControlDesign *design = ControlOfWindow(control, &owner, &index);
    if (!design)
        return FALSE;
    if (design->font)
        SetTextColor(dc, design->font->color);
    if (design->options & Transparent) {
        SetBkMode(dc, TRANSPARENT);
        return (INT_PTR)GetStockObject(NULL_BRUSH);
    }
    if (!design->font && form.design.backColor == COLOR_BTNFACE)
        return FALSE;
    SetBkColor(dc, GetSysColor(form.design.backColor));
    return (INT_PTR)GetSysColorBrush(form.design.backColor);
}

static INT_PTR CALLBACK FormProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        Form *form = reinterpret_cast<Form *>(lParam);
        form->hwnd = window;
        SetWindowLongA(window, DWL_USER, (LONG)lParam);
        return FALSE;
    }
    Form *form = FormOfWindow(window);
    if (!form)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        OnCommand(*form, LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_CLOSE:
        // A form below a modal one takes no commands, not even posted ones.
        if (IsWindowEnabled(window))
            UnloadForm(*form);
        return TRUE;
    case WM_DESTROY:
        ForgetInstance(*form);
        return FALSE;
    case WM_PAINT:
        if (!form->design.paint)
            return FALSE;
        {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            form->design.paint(dc);
            EndPaint(window, &paint);
        }
        return TRUE;
    case WM_CTLCOLORDLG:
        if (form->design.backColor == COLOR_BTNFACE)
            return FALSE;
        return (INT_PTR)GetSysColorBrush(form->design.backColor);
    case WM_CTLCOLORSTATIC:
        return OnStaticColor(*form, (HDC)wParam, (HWND)lParam);
    case WM_SETCURSOR:
        if (form->pointer != Hourglass)
            return FALSE;
        SetCursor(LoadCursorA(nullptr, IDC_WAIT));
        SetWindowLongA(window, DWL_MSGRESULT, TRUE);
        return TRUE;
    }
    return FALSE;
}

// --- Texts, pointers, messages -------------------------------------------

std::string GetText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(length + 1, '\0');
    text.resize(GetWindowTextA(window, &text[0], length + 1));
    return text;
}

void SetText(HWND window, const std::string &text)
{
    Form *form;
    int index;
    const ControlDesign *control = ControlOfWindow(window, &form, &index);
    bool labelChanges = control && control->kind == Label && GetText(window) != text;
    SetWindowTextA(window, text.c_str());
    if (labelChanges)
        RunHandler(*form, index, Change);
}

std::string MenuCaption(const Form &form, int item)
{
    return form.design.menu.entries[item].caption;
}

void SetMousePointer(Form &form, MousePointer pointer)
{
    form.pointer = pointer;
    // Show the new pointer at once when the mouse is over the form.
    POINT position;
    GetCursorPos(&position);
    HWND under = WindowFromPoint(position);
    if (form.hwnd && under && (under == form.hwnd || IsChild(form.hwnd, under)))
        SendMessageA(under, WM_SETCURSOR, (WPARAM)under, MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
}

int MsgBox(const std::string &text, UINT style, const std::string &caption)
{
    return MessageBoxA(CommandFormWindow(), text.c_str(), caption.c_str(), style);
}

void SetSelection(HWND textBox, int start, int length)
{
    SendMessageA(textBox, EM_SETSEL, start, start + length);
}

// --- List boxes and drop-down lists ---------------------------------------

struct ListMessages {
    UINT add, insert, remove, count, text, textLength, getData, setData, getSelection, setSelection, findExact;
};

static const ListMessages ListBoxMessages = {LB_ADDSTRING,    LB_INSERTSTRING, LB_DELETESTRING, LB_GETCOUNT,
                                             LB_GETTEXT,      LB_GETTEXTLEN,   LB_GETITEMDATA,  LB_SETITEMDATA,
                                             LB_GETCURSEL,    LB_SETCURSEL,    LB_FINDSTRINGEXACT};
static const ListMessages DropDownMessages = {CB_ADDSTRING,    CB_INSERTSTRING, CB_DELETESTRING, CB_GETCOUNT,
                                              CB_GETLBTEXT,    CB_GETLBTEXTLEN, CB_GETITEMDATA,  CB_SETITEMDATA,
                                              CB_GETCURSEL,    CB_SETCURSEL,    CB_FINDSTRINGEXACT};

static const ListMessages &MessagesOf(HWND list)
{
    char className[16] = "";
    GetClassNameA(list, className, sizeof className);
    return lstrcmpiA(className, "ComboBox") == 0 ? DropDownMessages : ListBoxMessages;
}

// A new line went in at index: give it its item value.
static int PlaceNewLine(HWND list, LRESULT index, DWORD itemData)
{
    if (index < 0)
        FatalError("A list cannot take another line.");
    SendMessageA(list, MessagesOf(list).setData, index, itemData);
    return (int)index;
}

int ListAddItem(HWND list, const std::string &text, DWORD itemData)
{
    return PlaceNewLine(list, SendMessageA(list, MessagesOf(list).add, 0, (LPARAM)text.c_str()), itemData);
}

int ListInsertItem(HWND list, int index, const std::string &text, DWORD itemData)
{
    return PlaceNewLine(list, SendMessageA(list, MessagesOf(list).insert, index, (LPARAM)text.c_str()), itemData);
}

void ListRemoveItem(HWND list, int index)
{
    SendMessageA(list, MessagesOf(list).remove, index, 0);
}

int ListCount(HWND list)
{
    return (int)SendMessageA(list, MessagesOf(list).count, 0, 0);
}

std::string ListText(HWND list, int index)
{
    const ListMessages &messages = MessagesOf(list);
    LRESULT length = SendMessageA(list, messages.textLength, index, 0);
    if (length < 0)
        return "";
    std::string text(length + 1, '\0');
    LRESULT copied = SendMessageA(list, messages.text, index, (LPARAM)&text[0]);
    text.resize(copied < 0 ? 0 : copied);
    return text;
}

DWORD ListItemData(HWND list, int index)
{
    return (DWORD)SendMessageA(list, MessagesOf(list).getData, index, 0);
}

void SetListItemData(HWND list, int index, DWORD itemData)
{
    if (index >= 0)
        SendMessageA(list, MessagesOf(list).setData, index, itemData);
}

int ListIndex(HWND list)
{
    return (int)SendMessageA(list, MessagesOf(list).getSelection, 0, 0);
}

void SetListIndex(HWND list, int index)
{
    SendMessageA(list, MessagesOf(list).setSelection, index, 0);
}

int ListFindExact(HWND list, const std::string &text, int after)
{
    return (int)SendMessageA(list, MessagesOf(list).findExact, (WPARAM)after, (LPARAM)text.c_str());
}

// --- Check boxes ----------------------------------------------------------

int CheckValue(HWND checkBox)
{
    return (int)SendMessageA(checkBox, BM_GETCHECK, 0, 0);
}

void SetCheckValue(HWND checkBox, int value)
{
    SendMessageA(checkBox, BM_SETCHECK, value, 0);
}

// --- Help -----------------------------------------------------------------

void ShowHelp(const HelpStarter &starter, const Form &owner)
{
    WinHelpA(owner.hwnd, starter.helpFile.c_str(), starter.helpCommand, 0);
}

// --- Binding library functions by name ------------------------------------

FARPROC ResolveByName(LibraryModule &module, const char *function, std::string &problem)
{
    if (!module.handle) {
        // Without the system's own "file not found" box: the program says it.
        UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        module.handle = LoadLibraryA(module.name);
        SetErrorMode(previousMode);
        if (!module.handle) {
            problem = std::string("The library '") + module.name + "' cannot be loaded.";
            return nullptr;
        }
    }
    FARPROC address = GetProcAddress(module.handle, function);
    if (!address)
        problem = std::string("The function '") + function + "' cannot be found in the library '" + module.name + "'.";
    return address;
}

FARPROC BindByName(LibraryModule &module, const char *function)
{
    std::string problem;
    FARPROC address = ResolveByName(module, function, problem);
    if (!address)
        FatalError(problem);
    return address;
}
