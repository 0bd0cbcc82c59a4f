#pragma once

// The program's version numbers, in the one place the version block reads them from; the build
// takes the project's version (and the release's BUILDINFO.txt its version) from the file
// version's text. The file version's text and its numbers differ in their last two parts on
// purpose.
#define JUV_FILE_VERSION 1, 2, 6725, 63089
#define JUV_FILE_VERSION_TEXT "1.2.0.0"
#define JUV_PRODUCT_VERSION 1, 1, 0, 0
#define JUV_PRODUCT_VERSION_TEXT "1.1.0.0"
