// Working Marrowby's share dialogs from outside (see shares_driver.h).
#include "shares_driver.h"

namespace shares {

const DWORD ReplyTimeout = 5000;
// The system message box shows its text and its icon in statics with these
// ids (a dialog's labels may carry the first one too).
const int MessageBoxTextId = 0xFFFF;
const int MessageBoxIconId = 1088;

static bool isMessageBox(HWND window)
{
    return GetDlgItem(window, MessageBoxTextId) && GetDlgItem(window, MessageBoxIconId);
}

bool Marrowby::start(const std::string &directory, const std::string &arguments, const char *caption)
{
    std::string path = directory.empty() ? ui::pathBeside(ProgramFile) : directory + ProgramFile;
    if (!program_.start(path, arguments))
        return false;
    processId_ = program_.processId();
    mainWindow = ui::waitForWindow(processId(), NULL, caption);
    return mainWindow != NULL;
}

void Marrowby::attach(HWND window)
{
    processId_ = GetCurrentProcessId();
    mainWindow = window;
}

HWND Marrowby::openShareList()
{
    if (!ui::chooseCommand(mainWindow, ListSharesCommand))
        return NULL;
    return waitForOwned(mainWindow, ShareListCaption);
}

HWND Marrowby::open(HWND dialog, int button, const char *caption)
{
    if (!press(dialog, button))
        return NULL;
    return waitForOwned(dialog, caption);
}

HWND waitForOwnedDialog(DWORD processId, HWND owner, const char *caption, DWORD timeout)
{
    HWND found = NULL;
    ui::waitUntil([&] {
        for (HWND window : ui::topLevelWindows(processId))
            if (ui::className(window) == "#32770" && !isMessageBox(window) && ui::owner(window) == owner &&
                ui::text(window) == caption) {
                found = window;
                return true;
            }
        return false;
    }, timeout);
    return found;
}

ui::MessageBoxView Marrowby::answer(int button)
{
    ui::MessageBoxView box;
    if (ui::waitForMessageBox(processId(), box))
        ui::answerMessageBox(box, button);
    return box;
}

bool Marrowby::confirm(HWND dialog, int button)
{
    return press(dialog, button) && ui::waitForWindowToClose(dialog);
}

std::string Marrowby::commandTitle()
{
    return ui::text(mainWindow, id(wndMain::lblMenuCmd));
}

bool press(HWND dialog, int button)
{
    return ui::waitUntil([&] { return ui::isEnabled(dialog, button); }, ReplyTimeout) &&
           ui::clickButton(dialog, button);
}

bool typeText(HWND dialog, int control, const std::string &text)
{
    return ui::typeText(dialog, id(control), text);
}

void allowLowerCase(HWND dialog, int control)
{
    ui::allowLowerCase(dialog, id(control));
}

bool selectLine(HWND dialog, int list, const std::string &line)
{
    std::vector<std::string> lines = ui::listLines(dialog, id(list));
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == line)
            return ui::selectListLine(dialog, id(list), (int)i);
    return false;
}

std::vector<ShareItem> listedItems(HWND dialog, int list)
{
    std::vector<ShareItem> items;
    std::vector<std::string> lines = ui::listLines(dialog, id(list));
    for (size_t i = 0; i < lines.size(); ++i)
        items.push_back({lines[i], (DWORD)ui::listData(dialog, id(list), (int)i)});
    return items;
}

int permissionBox(int group, int bit)
{
    static const int boxes[2][5] = {
        {dlgEditShare::chkRequest1, dlgEditShare::chkAdvise1, dlgEditShare::chkPoke1, dlgEditShare::chkExecute1,
         dlgEditShare::chkStartApp1},
        {dlgEditShare::chkRequest2, dlgEditShare::chkAdvise2, dlgEditShare::chkPoke2, dlgEditShare::chkExecute2,
         dlgEditShare::chkStartApp2},
    };
    return id(boxes[group - 1][bit]);
}

void tickPermissions(HWND editor, int group, DWORD permissions)
{
    for (int bit = 0; bit < 5; ++bit)
        ui::setChecked(editor, permissionBox(group, bit), (permissions >> bit) & 1);
}

DWORD tickedPermissions(HWND editor, int group)
{
    DWORD permissions = 0;
    for (int bit = 0; bit < 5; ++bit)
        if (ui::isChecked(editor, permissionBox(group, bit)))
            permissions |= 1u << bit;
    return permissions;
}

bool addItem(Marrowby &program, HWND editor, const std::string &name, DWORD permissions, int before)
{
    HWND itemEditor = program.open(editor, id(dlgEditShare::btnAdd), AddCaption);
    if (!itemEditor)
        return false;
    ui::setText(itemEditor, id(dlgEditItem::txtItemName), name);
    if (before >= 0)
        ui::selectComboLine(itemEditor, id(dlgEditItem::cbxNextItem), before);
    const int boxes[] = {dlgEditItem::chkRequest, dlgEditItem::chkAdvise, dlgEditItem::chkPoke};
    for (int bit = 0; bit < 3; ++bit)
        ui::setChecked(itemEditor, id(boxes[bit]), (permissions >> bit) & 1);
    return program.confirm(itemEditor, id(dlgEditItem::btnOK));
}

PartnerFolder::PartnerFolder(const std::string &name, const std::string &partnerPath)
{
    directory = ui::makeScratchDirectory(name);
    ready = !directory.empty() && ui::copyFileInto(ui::pathBeside(ProgramFile), directory) &&
            ui::copyFileInto(ui::pathBeside("Tessaflat.dll"), directory) &&
            CopyFileA(partnerPath.c_str(), (directory + "Tessaseg.dll").c_str(), FALSE);
}

PartnerFolder::~PartnerFolder()
{
    ui::removeDirectory(directory);
}

} // namespace shares
