// dlgSelectComputer: the computer whose shares, sessions and agent the
// program manages, by its node name: this machine or another node whose
// agent takes remote administration.
#include "marrowby.h"
#include "modMain.h"

namespace dlgSelectComputer {

// The managed node, or this machine's own name.
static std::string ManagedComputerName()
{
    if (ManagedServer())
        return ManagedServer();
    char ownName[NodeNameLength] = {};
    if (Tessaflat::NDdeGetNodeName(ownName, NodeNameLength) != NDDE_NO_ERROR)
        return "";
    return TrimNulSpace(std::string(ownName, NodeNameLength));
}

static void Form_Load()
{
    PlaceDialog(form, wndMain::form, PlaceBesideMain);
    SetText(form.hwnd, CommandTitle());
    // Room for the backslashes of a server and one character more than a
    // node name, so that a name too long is seen and refused.
    SendMessageA(form[txtComputerName], EM_LIMITTEXT, 2 + NodeNameLength, 0);
    SetText(form[txtComputerName], ManagedComputerName());
}

// A name that is no node's keeps the dialog open with the message.
static void btnOK_Click()
{
    std::string name = GetText(form[txtComputerName]);
    if (!SelectComputer(name)) {
        ShowInvalidComputer(name);
        return;
    }
    UnloadForm(form);
}

static void btnCancel_Click()
{
    UnloadForm(form);
}

static void Form_Unload()
{
    ReleaseForm(form);
}

static void txtComputerName_GotFocus()
{
    SelectWholeText(form[txtComputerName]);
}

static const ControlDesign controls[] = {
    {Label, "Label1", "Computer Name:", 240, 240, 2415, 255},
    {TextBox, "txtComputerName", "", 240, 480, 2415, 285, UpperCase},
    {CommandButton, "btnOK", "OK", 2880, 240, 1080, 315, DefaultButton},
    {CommandButton, "btnCancel", "Cancel", 2880, 720, 1080, 315, CancelButton},
};

static const EventBinding events[] = {
    {txtComputerName, GotFocus, txtComputerName_GotFocus},
    {btnOK, Click, btnOK_Click},
    {btnCancel, Click, btnCancel_Click},
};

static const FormDesign design = {
    .name = "dlgSelectComputer",
    .caption = "Computer",
    .border = FixedDialog,
    .units = Twips,
    .left = 540, .top = 825, .width = 4155, .height = 1275,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
