#pragma once
// Ids of the module's cursors and bitmaps. Shared by the resource script and
// the code that loads them, so only preprocessor definitions belong here.
// The pictures are written by tools/resgen (scripts/resources).

// Cursors, 32 x 32, 16 colours.
#define IDC_MAGNIFIER 155       // magnifying glass; hot spot (8, 8), the lens centre
#define IDC_OPEN_HAND 156       // flat hand for panning; hot spot (12, 1)
#define IDC_POINTING_HAND 157   // hand with raised index finger; hot spot (12, 1)
#define IDC_GLOBE_HAND 158      // pointing hand in front of a globe; hot spot (13, 3)

// The control's toolbox picture, 16 x 16, 16 colours.
#define IDB_TOOLBOX 101
// The toolbar's image strip: ten 24 x 24 pictures on light grey, 16 colours.
#define IDB_TOOLBAR 201
// The magnifier lens, each 238 x 171: the frame picture (16 colours, white
// inside and around the frame), the lens mask (1 bit, white over frame and
// shadow) and the view mask (1 bit, white over the viewing area).
#define IDB_LENS_FRAME 203
#define IDB_LENS_MASK 204
#define IDB_VIEW_MASK 205
