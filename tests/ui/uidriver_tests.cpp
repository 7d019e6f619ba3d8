// The driver's own tests, against its sample program: each action must reach
// the program as a user's would, and each reading must give back exactly
// what the program shows.
#include <doctest/doctest.h>

#include "resources.h"
#include "sample_ids.h"
#include "uidriver.h"

static HWND startSample(ui::Program &sample)
{
    REQUIRE(sample.start(ui::pathBeside("uidriver_sample.exe")));
    HWND dialog = ui::waitForDialog(sample.processId(), "Driver Sample");
    REQUIRE(dialog != nullptr);
    return dialog;
}

static bool lastEventIs(HWND dialog, const std::string &event)
{
    return ui::waitUntil([&] { return ui::text(dialog, IDC_LAST_EVENT) == event; }, 5000);
}

TEST_CASE("lines of another program's lists and combo boxes are read whole")
{
    ui::Program sample;
    HWND dialog = startSample(sample);

    std::vector<std::string> lines = ui::listLines(dialog, IDC_SAMPLE_LIST);
    REQUIRE(lines.size() == 3);
    CHECK(lines[0] == "alpha");
    CHECK(lines[1] == "Gr\xF6\xDF" "e");
    CHECK(lines[2].size() == 300);
    CHECK(lines[2].substr(0, 27) == "abcdefghijklmnopqrstuvwxyza");
    CHECK(ui::listData(dialog, IDC_SAMPLE_LIST, 1) == 0x1234);
    CHECK(ui::listSelection(dialog, IDC_SAMPLE_LIST) == LB_ERR);
    CHECK(ui::comboLines(dialog, IDC_SAMPLE_COMBO) == std::vector<std::string>{ "one", "two", "three" });
}

TEST_CASE("selecting lines notifies the program as a click does")
{
    ui::Program sample;
    HWND dialog = startSample(sample);

    REQUIRE(ui::selectListLine(dialog, IDC_SAMPLE_LIST, 2));
    CHECK(lastEventIs(dialog, "selected 2"));
    CHECK(ui::listSelection(dialog, IDC_SAMPLE_LIST) == 2);

    REQUIRE(ui::doubleClickListLine(dialog, IDC_SAMPLE_LIST, 1));
    CHECK(lastEventIs(dialog, "double-clicked 1"));

    REQUIRE(ui::selectComboLine(dialog, IDC_SAMPLE_COMBO, 2));
    CHECK(lastEventIs(dialog, "combo 2"));
    CHECK(ui::comboSelection(dialog, IDC_SAMPLE_COMBO) == 2);

    CHECK_FALSE(ui::selectListLine(dialog, IDC_SAMPLE_LIST, 7));
}

TEST_CASE("message boxes are read and answered")
{
    ui::Program sample;
    HWND dialog = startSample(sample);
    ui::MessageBoxView box;

    // Information, owned and captioned.
    {
        REQUIRE(ui::clickButton(dialog, IDC_SHOW_INFORMATION));
        REQUIRE(ui::waitForMessageBox(sample.processId(), box));
        CHECK(box.text == "information text");
        CHECK(box.caption == "Information caption");
        CHECK(box.icon == ui::Icon::Information);
        CHECK(box.owner == dialog);
        CHECK(box.buttons == std::vector<int>{ IDOK });
        REQUIRE(ui::answerMessageBox(box, IDOK));
        CHECK(lastEventIs(dialog, "information answered 1"));
    }
    // Exclamation without owner or caption.
    {
        REQUIRE(ui::clickButton(dialog, IDC_SHOW_EXCLAMATION));
        REQUIRE(ui::waitForMessageBox(sample.processId(), box));
        CHECK(box.text == "exclamation text");
        CHECK(box.caption == "Error");
        CHECK(box.icon == ui::Icon::Exclamation);
        CHECK(box.owner == nullptr);
        REQUIRE(ui::answerMessageBox(box, IDOK));
        CHECK(lastEventIs(dialog, "exclamation answered 1"));
    }
    // Questions answered yes and no.
    {
        REQUIRE(ui::clickButton(dialog, IDC_ASK_QUESTION));
        REQUIRE(ui::waitForMessageBox(sample.processId(), box));
        CHECK(box.icon == ui::Icon::Question);
        CHECK(box.buttons == std::vector<int>{ IDYES, IDNO });
        REQUIRE(ui::answerMessageBox(box, IDNO));
        CHECK(lastEventIs(dialog, "question answered 7"));

        REQUIRE(ui::clickButton(dialog, IDC_ASK_QUESTION));
        REQUIRE(ui::waitForMessageBox(sample.processId(), box));
        REQUIRE(ui::answerMessageBox(box, IDYES));
        CHECK(lastEventIs(dialog, "question answered 6"));
    }
    // Stop icon.
    {
        REQUIRE(ui::clickButton(dialog, IDC_SHOW_STOP));
        REQUIRE(ui::waitForMessageBox(sample.processId(), box));
        CHECK(box.icon == ui::Icon::Stop);
        REQUIRE(ui::answerMessageBox(box, IDOK));
    }
    CHECK_FALSE(ui::hasMessageBox(sample.processId()));
}

TEST_CASE("keys, buttons, edits and check boxes act as a user's input")
{
    ui::Program sample;
    HWND dialog = startSample(sample);

    REQUIRE(ui::pressKey(dialog, VK_F5));
    CHECK(lastEventIs(dialog, "F5 pressed"));

    CHECK_FALSE(ui::clickButton(dialog, IDC_DISABLED_BUTTON));
    CHECK_FALSE(ui::isEnabled(dialog, IDC_DISABLED_BUTTON));

    REQUIRE(ui::setText(dialog, IDC_SAMPLE_EDIT, "typed text"));
    CHECK(ui::text(dialog, IDC_SAMPLE_EDIT) == "typed text");

    REQUIRE(ui::setChecked(dialog, IDC_SAMPLE_CHECK, true));
    CHECK(ui::isChecked(dialog, IDC_SAMPLE_CHECK));
    CHECK(lastEventIs(dialog, "check clicked"));
    CHECK(ui::style(dialog, IDC_SAMPLE_CHECK) == 0x50010003);
}

TEST_CASE("the help engine stand-in receives the program's help calls")
{
    ui::HelpEngineStandIn help;
    REQUIRE(help.isReady());
    std::string eventDuringCall;
    ui::Program sample;
    HWND dialog = startSample(sample);
    help.onRequest = [&](const ui::HelpRequest &) { eventDuringCall = ui::text(dialog, IDC_LAST_EVENT); };

    REQUIRE(ui::clickButton(dialog, IDC_OPEN_HELP));
    REQUIRE(ui::waitUntil([&] { return help.requests.size() == 1; }));
    CHECK(help.requests[0].command == HELP_CONTENTS);
    CHECK(help.requests[0].file == "sample.hlp");
    CHECK(help.requests[0].caller == dialog);
    CHECK(eventDuringCall == "");
    CHECK(lastEventIs(dialog, "help returned 1"));

    REQUIRE(ui::closeWindow(dialog));
    DWORD exitCode = 0;
    REQUIRE(sample.waitForExit(&exitCode));
    CHECK(exitCode == 7);
    REQUIRE(help.requests.size() == 2);
    CHECK(help.requests[1].command == HELP_QUIT);
    CHECK(help.requests[1].file == "");
}

TEST_CASE("resources are read as the file stores them")
{
    HMODULE module = ui::openResources(ui::pathBeside("uidriver_sample.exe"));
    REQUIRE(module != nullptr);
    ui::DialogTemplate dialog;
    REQUIRE(ui::readDialogTemplate(module, IDD_SAMPLE, dialog));
    CHECK(dialog.title == "Driver Sample");
    CHECK(dialog.fontName == "MS Sans Serif");
    CHECK(dialog.pointSize == 8);
    CHECK(dialog.width == 220);
    CHECK(dialog.items.size() == 11);
    const ui::DialogItemTemplate *list = dialog.item(IDC_SAMPLE_LIST);
    REQUIRE(list != nullptr);
    CHECK(list->className == "listbox");
    CHECK(list->style == 0x50B10101);
    CHECK(list->height == 60);
    REQUIRE(dialog.itemWithText("Disabled") != nullptr);
    CHECK(dialog.itemWithText("Disabled")->id == IDC_DISABLED_BUTTON);

    std::vector<ui::AcceleratorEntry> keys;
    REQUIRE(ui::readAccelerators(module, IDR_SAMPLE_KEYS, keys));
    REQUIRE(keys.size() == 1);
    CHECK(keys[0].key == VK_F5);
    CHECK(keys[0].command == IDM_KEY_F5);
    CHECK(ui::resourceLanguages(module, RT_DIALOG, IDD_SAMPLE) == std::vector<WORD>{ ui::EnglishUnitedStates });
    FreeLibrary(module);
}
