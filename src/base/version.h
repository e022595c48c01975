/* The client's version and resource ids: plain preprocessor definitions,
   read by the code and by the resource script (res/marvik_ac.rc) alike, so
   the two can never disagree. */
#pragma once

#define MARVIK_VERSION_MAJOR 3
#define MARVIK_VERSION_MINOR 2
#define MARVIK_VERSION_TEXT "3.2"
#define MARVIK_VERSION_QUAD 3, 2, 0, 0

/* The application icon: six images, 16 to 256 pixels. */
#define IDI_APPICON 101
