// Forms: Marrowby's windows, each built from a declared design.
//
// A form is declared once, in its own source file: a table of its controls
// (kind, name, caption, position; the table order is the tab order), a table
// binding control events to plain handler functions, its load and unload
// steps, and for the main window its menu. The form object itself is the
// program's single reference to the window: LoadForm creates the window on
// first use and runs its load step; the unload step releases it, so the next
// use builds a fresh window with empty controls.
//
// Controls are addressed as form[control], control being the form's own
// enumeration in table order; the result is the control's window, and the
// helpers below (and plain Win32 calls) work on that window.
#ifndef FORMS_H
#define FORMS_H

#include <windows.h>
#include <string>

// Window ids: a form's control has the id ControlFirstId + its index in the
// design table, a menu item the command id MenuFirstId + its index in the
// menu table (so programs driving a form from outside can address them).
// Both stay clear of IDOK and IDCANCEL, which the dialog manager sends for
// Enter and Escape.
const int ControlFirstId = 100;
const int MenuFirstId = 1000;

// The units in which a form's design gives positions and sizes.
enum DesignUnits { Pixels, Twips };

enum FormBorder {
    FixedSingle,   // thin fixed frame, caption, system menu and minimize box
    FixedDialog,   // fixed dialog frame, caption and system menu
};

enum ControlKind {
    Label,          // static text; it wraps when it is too long for one line
    TextBox,        // single-line edit box
    ListBox,        // lines in the order they are added or inserted
    SortedListBox,  // lines kept in sorted order
    DropDownList,   // a combo box whose entries are picked, never typed
    CheckBox,       // value 0 (clear), 1 (ticked) or 2 (greyed)
    CommandButton,
    Frame,          // a group box with a caption; controls may sit inside it
    Image,          // a picture: the caption names an icon or bitmap resource
};

// Design options of a control (combined with |).
enum ControlOption : unsigned {
    Invisible = 0x001,      // never shown
    Disabled = 0x002,
    DefaultButton = 0x004,  // Enter clicks it when the focus is not on another button
    CancelButton = 0x008,   // Escape clicks it
    AlignRight = 0x010,     // labels
    AlignCenter = 0x020,    // labels
    ReadOnly = 0x040,       // text boxes
    UpperCase = 0x080,      // text boxes: typed text appears in capitals
    Transparent = 0x100,    // labels: drawn over whatever the form paints
    InFrame = 0x200,        // position relative to the nearest Frame above in the table
};

// A control's own font and text colour, when it has one.
struct FontDesign {
    const char *face;
    int points;
    int weight;      // FW_NORMAL, FW_BOLD, ...
    bool italic;
    COLORREF color;
};

struct ControlDesign {
    ControlKind kind;
    const char *name;
    const char *caption;     // text, first entry of a drop-down list, or picture name
    int left, top, width, height;   // in the form's units
    unsigned options = 0;
    const FontDesign *font = nullptr;  // null: the forms' common font
};

enum ControlEvent { Click, DblClick, Change, GotFocus };

// Runs handler when control raises event. Click of a list box is a change of
// its selection; Change of a label is a change of its text through SetText.
struct EventBinding {
    int control;
    ControlEvent event;
    void (*handler)();
};

// One menu entry: level 0 is a menu title, level 1 an item of the menu above
// it; the caption "-" makes a separator. An item without a handler is shown
// greyed. shortcut is a function key (VK_F1 ... VK_F12) or 0.
struct MenuDesign {
    int level;
    const char *name;
    const char *caption;
    void (*click)() = nullptr;
    UINT shortcut = 0;
};

// A table of a form's design, as Table(array) gives it.
template <typename Entry>
struct DesignTable {
    const Entry *entries;
    int count;
};

template <typename Entry, int N>
constexpr DesignTable<Entry> Table(const Entry (&entries)[N])
{
    return {entries, N};
}

struct FormDesign {
    const char *name;
    const char *caption;
    FormBorder border = FixedDialog;
    DesignUnits units = Pixels;
    int left = 0, top = 0;          // the client area's top left corner on the screen
    int width = 0, height = 0;      // the client area's size
    DesignTable<ControlDesign> controls = {};
    DesignTable<EventBinding> events = {};
    DesignTable<MenuDesign> menu = {};
    void (*load)() = nullptr;       // Form_Load
    void (*unload)() = nullptr;     // Form_Unload: must end with ReleaseForm
    void (*paint)(HDC dc) = nullptr;  // Form_Paint, after the background is filled
    int backColor = COLOR_BTNFACE;  // system colour index of the fill brush
    int icon = 0;                   // icon resource of the window, 0 for none
};

enum MousePointer { DefaultPointer, Hourglass };

struct Form {
    const FormDesign &design;
    HWND hwnd = nullptr;        // null while the form is not loaded
    bool bError = false;        // set by a load step that could not fill the form
    // Kept by the forms layer.
    MousePointer pointer = DefaultPointer;
    HWND modalOwner = nullptr;  // the window disabled while this form is modal
    HACCEL shortcuts = nullptr;

    // The window of a control of this form (null while the form is not loaded).
    HWND operator[](int control) const;
};

// --- Lifetime -------------------------------------------------------------

// Creates the form's window and controls, hidden, and runs its load step;
// does nothing when the form is already loaded.
void LoadForm(Form &form);
// Runs the form's unload step (which releases it); does nothing when the
// form is not loaded.
void UnloadForm(Form &form);
// Destroys the form's window and forgets the instance: the next use of the
// form loads a fresh one. Called at the end of every unload step.
void ReleaseForm(Form &form);
// Loads the form if needed, makes owner its owner, disables owner and shows
// the form; returns when the form has been unloaded.
void ShowModal(Form &form, Form &owner);
// Loads and shows the program's main form and runs until it is unloaded;
// returns the program's exit code.
int RunProgram(Form &mainForm);
// Ends the program at once, without any further unload steps.
[[noreturn]] void EndProgram(UINT exitCode);
// What the program was started with after its own name, without the
// blanks before it (the runtime's Command$).
std::string Command();

// --- Texts, pointers, messages -------------------------------------------

std::string GetText(HWND window);
// Sets a form's caption or a control's text; a label whose text changes
// then runs its Change handler.
void SetText(HWND window, const std::string &text);
// The designed caption of a menu item (without its shortcut).
std::string MenuCaption(const Form &form, int item);
void SetMousePointer(Form &form, MousePointer pointer);
// A message box owned by the form that runs the current command (the
// innermost modal form, else the main form); style takes the MB_ flags.
// Returns the button chosen (IDOK, IDYES, ...).
int MsgBox(const std::string &text, UINT style, const std::string &caption);
// Selects characters of a text box (start 0 and the text's length select all).
void SetSelection(HWND textBox, int start, int length);

// --- List boxes and drop-down lists ---------------------------------------
// Each line carries a 32-bit item value that stays with it when the list
// sorts. Indexes count from 0; -1 means none.

// Adds a line (in sorted position for a sorted list) and returns its index.
int ListAddItem(HWND list, const std::string &text, DWORD itemData = 0);
int ListInsertItem(HWND list, int index, const std::string &text, DWORD itemData = 0);
void ListRemoveItem(HWND list, int index);
int ListCount(HWND list);
std::string ListText(HWND list, int index);
DWORD ListItemData(HWND list, int index);
void SetListItemData(HWND list, int index, DWORD itemData);
int ListIndex(HWND list);                  // the selected line
void SetListIndex(HWND list, int index);   // selects a line (no Click)
// The line equal to text when case is ignored, or -1: the first one, or
// the first after line `after`, the search wrapping round to the top.
int ListFindExact(HWND list, const std::string &text, int after = -1);

// --- Check boxes ----------------------------------------------------------
int CheckValue(HWND checkBox);
void SetCheckValue(HWND checkBox, int value);

// --- Help -----------------------------------------------------------------
// The help starter: a help file and a WinHelp command.
struct HelpStarter {
    std::string helpFile;
    UINT helpCommand;
};
// Hands the starter's file and command to the help engine for owner.
void ShowHelp(const HelpStarter &starter, const Form &owner);

// --- Binding library functions by name ------------------------------------

// A library module named by its module name, loaded at the first call of
// one of its functions.
struct LibraryModule {
    const char *name;
    HMODULE handle;
};

// The address of function in module, loading the module when needed; null
// with problem set to a message naming what could not be found.
FARPROC ResolveByName(LibraryModule &module, const char *function, std::string &problem);
// As ResolveByName, but a failure shows the message and ends the program.
FARPROC BindByName(LibraryModule &module, const char *function);

// A function bound by name at its first call; later calls go straight to
// the stored address. Declared with the function's pointer type, e.g.
// BoundFunction<decltype(&::IsWindow)> IsWindow(user32Module, "IsWindow").
template <typename Function>
class BoundFunction;

template <typename Result, typename... Args>
class BoundFunction<Result(WINAPI *)(Args...)> {
public:
    constexpr BoundFunction(LibraryModule &module, const char *name) : module(module), name(name) {}

    Result operator()(Args... args)
    {
        if (!address)
            address = reinterpret_cast<Result(WINAPI *)(Args...)>(
                reinterpret_cast<void (*)()>(BindByName(module, name)));
        return address(args...);
    }

    bool IsBound() const { return address != nullptr; }

private:
    LibraryModule &module;
    const char *name;
    Result(WINAPI *address)(Args...) = nullptr;
};

#endif
