// Resource ids of Marrowby.
#ifndef MARROWBY_RESOURCE_H
#define MARROWBY_RESOURCE_H

#define IDI_MARROWBY 1   // the program's icon, 32x32 and 16x16, 16 colours
#define IDB_WEB 2        // the main window's 400x300 monochrome picture

#endif
