#pragma once

// Builds the program from this build's constants (cameras, share, converter)
// and runs it until the capture window closes.
int runImageMaker(int argc, char** argv);
