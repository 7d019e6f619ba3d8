// dlgAbout: the About box, captioned with the command title.
#include "marrowby.h"
#include "modMain.h"
#include "resource.h"

namespace dlgAbout {

static void Form_Load()
{
    PlaceDialog(form, wndMain::form, PlaceBesideMain);
    SetText(form.hwnd, CommandTitle());
}

static void btnOK_Click()
{
    UnloadForm(form);
}

static void Form_Unload()
{
    ReleaseForm(form);
}

static const ControlDesign controls[] = {
    {Image, "Image1", MAKEINTRESOURCEA(IDI_MARROWBY), 16, 16, 32, 32},
    {Label, "Label1", "Network DDE Status version 1.02", 56, 16, 105, 25},
    {Label, "Label2", "By Quorvane\r\nBuilt with GCC", 56, 56, 105, 33},
    {CommandButton, "btnOK", "OK", 168, 16, 72, 21, DefaultButton | CancelButton},
};

static const EventBinding events[] = {
    {btnOK, Click, btnOK_Click},
};

static const FormDesign design = {
    .name = "dlgAbout",
    .caption = "About",
    .border = FixedDialog,
    .units = Pixels,
    .left = 36, .top = 55, .width = 250, .height = 99,
    .controls = Table(controls),
    .events = Table(events),
    .load = Form_Load,
    .unload = Form_Unload,
};

Form form = {design};

}
