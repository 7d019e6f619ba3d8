// What Marrowby's share dialogs hand to the library, call by call. The
// test program carries Marrowby's forms and runs them on a thread of their
// own, as Marrowby runs them on its one thread, and works them from the
// test's thread with window messages. Beside it lie the library and, as
// Tessaseg.dll, the library tests' scripted partner, which records every
// call it receives and answers as its script says; the test sets the
// script and reads the record between the steps it drives.
#include <windows.h>

#include <doctest/doctest.h>

#include <algorithm>
#include <string>

#include "scripted_partner.h"
#include "shares_driver.h"

using namespace shares;

namespace {

// Marrowby's forms, run from the main window on a thread of their own.
class FormsThread {
public:
    ~FormsThread() { stop(); }

    bool start()
    {
        thread_ = CreateThread(NULL, 0, run, NULL, 0, NULL);
        HWND mainWindow = thread_ ? ui::waitForWindow(GetCurrentProcessId(), NULL, MainCaption) : NULL;
        if (mainWindow)
            program.attach(mainWindow);
        script = loadedPartnerScript();
        if (!mainWindow || !script)
            return false;
        // The script outlives a test: each begins with the partner
        // answering 0, which lists no shares.
        PartnerAnswer nothing = {};
        answerWith(nothing);
        return true;
    }

    // Starts the forms and opens the share list from the main window; NULL
    // when either fails.
    HWND startWithShareList()
    {
        return start() ? program.openShareList() : NULL;
    }

    // Makes `answer` the partner's answer to every call from now on, and
    // starts a new record. Called while the forms wait for input.
    void answerWith(const PartnerAnswer &answer)
    {
        script->answer = answer;
        script->callCount = 0;
    }

    Marrowby program;
    PartnerScript *script = NULL;

private:
    static DWORD WINAPI run(LPVOID)
    {
        return RunProgram(wndMain::form);
    }

    // Answers what a failed test left open, closes the dialogs innermost
    // first and then the main window, and waits for the thread to end.
    void stop()
    {
        if (!thread_)
            return;
        ui::MessageBoxView box;
        while (ui::waitForMessageBox(GetCurrentProcessId(), box, 500))
            ui::answerMessageBox(box, std::count(box.buttons.begin(), box.buttons.end(), IDNO) ? IDNO : IDOK);
        Form *forms[] = {&dlgEditItem::form, &dlgEditShare::form, &dlgListShares::form, &wndMain::form};
        for (Form *form : forms) {
            HWND window = form->hwnd;
            if (window) {
                PostMessageA(window, WM_CLOSE, 0, 0);
                ui::waitUntil([window] { return !IsWindow(window); }, 5000);
            }
        }
        WaitForSingleObject(thread_, ui::DefaultTimeout);
        CloseHandle(thread_);
        thread_ = NULL;
    }

    HANDLE thread_ = NULL;
};

PartnerAnswer answer(WORD result)
{
    PartnerAnswer answer = {};
    answer.result = result;
    return answer;
}

PartnerAnswer countsAnswer(WORD result, DWORD totalAvailable, DWORD count)
{
    PartnerAnswer answer = {};
    answer.result = result;
    answer.writeCounts = true;
    answer.totalAvailable = totalAvailable;
    answer.count = count;
    return answer;
}

const char ReportStart[] = "NDDEAPI.DLL reports error #";

std::string blockText(const RecordedCall &call, DWORD offset)
{
    return offset < MaxBlockBytes ? std::string((const char *)call.block + offset) : std::string();
}

} // namespace

TEST_CASE("a new share reaches the library as a record with its completed name and the size of its texts")
{
    FormsThread forms;
    HWND shareList = forms.startWithShareList();
    REQUIRE(shareList != NULL);
    Marrowby &program = forms.program;

    // No shares: an empty list, Edit and Delete disabled.
    CHECK(ui::listCount(shareList, id(dlgListShares::lbxShareList)) == 0);
    CHECK(ui::listHorizontalExtent(shareList, id(dlgListShares::lbxShareList)) == 0);
    CHECK_FALSE(ui::isEnabled(shareList, id(dlgListShares::btnEdit)));
    CHECK_FALSE(ui::isEnabled(shareList, id(dlgListShares::btnDelete)));

    HWND editor = program.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    typeText(editor, dlgEditShare::txtShareName, "abc");
    ui::setText(editor, id(dlgEditShare::txtAppName), "X");
    ui::setText(editor, id(dlgEditShare::txtTopic), "Y");

    // Every check passes and the add answers code 1, which is reported.
    forms.answerWith(answer(1));
    REQUIRE(press(editor, id(dlgEditShare::btnOK)));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text.find(std::string(ReportStart) + "1.") == 0);
    CHECK(IsWindowVisible(editor));

    const PartnerScript *recorded = forms.script;
    REQUIRE(recorded->callCount >= 5);
    CHECK(recorded->calls[0].index == PartnerIsValidShareName);
    CHECK(std::string(recorded->calls[0].text[0]) == "ABC$");
    CHECK(recorded->calls[1].index == PartnerIsValidTopic);
    CHECK(std::string(recorded->calls[1].text[0]) == "Y");
    CHECK(recorded->calls[2].index == PartnerIsValidPassword);
    CHECK(recorded->calls[3].index == PartnerIsValidPassword);
    const RecordedCall &add = recorded->calls[4];
    REQUIRE(add.index == PartnerShareAdd);
    CHECK(add.textIsNull[0]);   // the local machine
    CHECK(add.args[1] == 2);
    // 112 + ABC$ 5 + X 2 + Y 2 + first item 1 + two passwords 1 each + 1.
    CHECK(add.args[3] == 125);
    const ShareTransferHeader *header = (const ShareTransferHeader *)add.block;
    CHECK(std::string(header->shareName) == "ABC$");
    CHECK(blockText(add, header->appName) == "X");
    CHECK(blockText(add, header->topicName) == "Y");
    CHECK(header->password1Length == 0);
    CHECK(header->password2Length == 0);
    // No items: a count of 0 and no table.
    CHECK(header->addItemCount == 0);
    CHECK(header->addItems == 0);

    // Passwords typed in lower case, two items: the record carries the
    // capitals with their typed lengths and the items in list order.
    allowLowerCase(editor, dlgEditShare::txtPassword1);
    typeText(editor, dlgEditShare::txtPassword1, "secret");
    typeText(editor, dlgEditShare::txtPassword2, "pw");
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword1)) == "secret");
    CHECK(ui::text(editor, id(dlgEditShare::txtPassword2)) == "PW");
    forms.answerWith(answer(0));
    REQUIRE(addItem(program, editor, "A", Request));
    REQUIRE(addItem(program, editor, "BC", Advise | Poke));
    forms.answerWith(answer(1));
    REQUIRE(press(editor, id(dlgEditShare::btnOK)));
    box = program.answer(IDOK);
    CHECK(box.text.find(std::string(ReportStart) + "1.") == 0);

    
    REQUIRE(recorded->callCount >= 5);
    CHECK(std::string(recorded->calls[2].text[0]) == "SECRET");
    CHECK(std::string(recorded->calls[3].text[0]) == "PW");
    const RecordedCall &second = recorded->calls[4];
    REQUIRE(second.index == PartnerShareAdd);
    // 125, the passwords 6 and 2, the items A 8 + 1 + 1 and BC 8 + 2 + 1.
    CHECK(second.args[3] == 154);
    header = (const ShareTransferHeader *)second.block;
    CHECK(header->password1Length == 6);
    CHECK(blockText(second, header->password1) == "SECRET");
    CHECK(header->password2Length == 2);
    CHECK(blockText(second, header->password2) == "PW");
    REQUIRE(header->addItemCount == 2);
    REQUIRE(header->addItems > 0);
    REQUIRE(header->addItems + 2 * sizeof(AddItemEntry) <= MaxBlockBytes);
    const AddItemEntry *items = (const AddItemEntry *)(second.block + header->addItems);
    CHECK(blockText(second, items[0].nameOffset) == "A");
    CHECK(items[0].permissions == Request);
    CHECK(blockText(second, items[1].nameOffset) == "BC");
    CHECK(items[1].permissions == (Advise | Poke));
}

TEST_CASE("names the program refuses never reach the library; the library's refusal names the completed name")
{
    FormsThread forms;
    HWND shareList = forms.startWithShareList();
    REQUIRE(shareList != NULL);
    Marrowby &program = forms.program;
    HWND editor = program.open(shareList, id(dlgListShares::btnAdd), AddCaption);
    REQUIRE(editor != NULL);
    ui::setText(editor, id(dlgEditShare::txtTopic), "Topic");
    forms.answerWith(answer(1));

    SUBCASE("a $ before the end")
    {
        typeText(editor, dlgEditShare::txtShareName, "a$b");
        REQUIRE(press(editor, id(dlgEditShare::btnOK)));
        ui::MessageBoxView box = program.answer(IDOK);
        CHECK(box.text == "Share name 'A$B ' is invalid !");
        CHECK(box.caption == "Error");
        CHECK(box.icon == ui::Icon::Exclamation);
        CHECK(forms.script->callCount == 0);
        CHECK(ui::text(editor, id(dlgEditShare::txtShareName)) == "A$B");
    }
    SUBCASE("a name the record cannot hold with its terminator")
    {
        // 67 characters and the $ make 68.
        std::string tooLong(67, 'N');
        typeText(editor, dlgEditShare::txtShareName, tooLong);
        REQUIRE(press(editor, id(dlgEditShare::btnOK)));
        ui::MessageBoxView box = program.answer(IDOK);
        CHECK(box.text == "Share name '" + tooLong + "$ ' is invalid !");
        CHECK(forms.script->callCount == 0);

        // 66 and the $ fit, and reach the library whole.
        std::string longest(66, 'N');
        typeText(editor, dlgEditShare::txtShareName, longest);
        REQUIRE(press(editor, id(dlgEditShare::btnOK)));
        box = program.answer(IDOK);
        CHECK(box.text.find(std::string(ReportStart) + "1.") == 0);
        const PartnerScript *recorded = forms.script;
        REQUIRE(recorded->callCount >= 5);
        CHECK(std::string(recorded->calls[0].text[0]) == longest + "$");
        REQUIRE(recorded->calls[4].index == PartnerShareAdd);
        CHECK(std::string(((const ShareTransferHeader *)recorded->calls[4].block)->shareName) == longest + "$");
    }
    SUBCASE("a name the library's check refuses")
    {
        forms.answerWith(answer(0));
        typeText(editor, dlgEditShare::txtShareName, "abc");
        REQUIRE(press(editor, id(dlgEditShare::btnOK)));
        ui::MessageBoxView box = program.answer(IDOK);
        CHECK(box.text == "Share name 'ABC$ ' is invalid !");
        // Only the first refused value is checked and reported.
        const PartnerScript *recorded = forms.script;
        CHECK(recorded->callCount == 1);
        CHECK(recorded->calls[0].index == PartnerIsValidShareName);
        CHECK(std::string(recorded->calls[0].text[0]) == "ABC$");
        CHECK(ui::text(editor, id(dlgEditShare::txtShareName)) == "ABC");
        CHECK(IsWindowVisible(editor));
    }
}

TEST_CASE("the share list asks with no buffer, then for one byte more than the total, until the library asks no more")
{
    FormsThread forms;
    REQUIRE(forms.start());
    Marrowby &program = forms.program;
    forms.answerWith(countsAnswer(NDDE_BUF_TOO_SMALL, 40, 0));
    REQUIRE(ui::chooseCommand(program.mainWindow, ListSharesCommand));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text.find(std::string(ReportStart) + "2.") == 0);
    CHECK(program.waitForOwned(program.mainWindow, ShareListCaption, 1000) == NULL);
    CHECK(ui::waitUntil([&] { return program.commandTitle().empty(); }));

    // Offered nothing, then 41 bytes for the 40 asked; asked for 40 again,
    // the list stops and reports the code.
    const PartnerScript *recorded = forms.script;
    REQUIRE(recorded->callCount >= 3);
    CHECK(recorded->calls[0].index == PartnerShareEnum);
    CHECK(recorded->calls[0].args[1] == 0);
    CHECK(recorded->calls[0].args[2] == 0);
    CHECK(recorded->calls[0].args[3] == 0);
    CHECK(recorded->calls[1].index == PartnerShareEnum);
    CHECK(recorded->calls[1].args[2] != 0);
    CHECK(recorded->calls[1].args[3] == 41);
    CHECK(recorded->calls[2].index == PartnerGetErrorString);
    CHECK(recorded->calls[2].args[0] == NDDE_BUF_TOO_SMALL);
}

TEST_CASE("reading a share asks with 113 bytes, then for one byte more than the total, and reports a stall")
{
    FormsThread forms;
    HWND shareList = forms.startWithShareList();
    REQUIRE(shareList != NULL);
    Marrowby &program = forms.program;
    // A share the list learns of after it was filled (the list is read
    // once); the partner then answers for it.
    DWORD_PTR added = 0;
    REQUIRE(SendMessageTimeoutW(GetDlgItem(shareList, id(dlgListShares::lbxShareList)), LB_ADDSTRING, 0,
                                (LPARAM)L"BIG$", SMTO_NORMAL, 5000, &added));
    REQUIRE(selectLine(shareList, dlgListShares::lbxShareList, "BIG$"));

    forms.answerWith(countsAnswer(NDDE_BUF_TOO_SMALL, 300, 0));
    REQUIRE(press(shareList, id(dlgListShares::btnEdit)));
    ui::MessageBoxView box = program.answer(IDOK);
    CHECK(box.text.find(std::string(ReportStart) + "2.") == 0);
    CHECK(program.waitForOwned(shareList, EditCaption, 1000) == NULL);
    CHECK(IsWindowVisible(shareList));

    const PartnerScript *recorded = forms.script;
    REQUIRE(recorded->callCount >= 3);
    for (int call = 0; call < 2; ++call) {
        CAPTURE(call);
        CHECK(recorded->calls[call].index == PartnerShareGetInfo);
        CHECK(recorded->calls[call].textIsNull[0]);
        CHECK(std::string(recorded->calls[call].text[1]) == "BIG$");
        CHECK(recorded->calls[call].args[2] == 2);
    }
    CHECK(recorded->calls[0].args[4] == 113);
    CHECK(recorded->calls[1].args[4] == 301);
    CHECK(recorded->calls[2].index == PartnerGetErrorString);
}
