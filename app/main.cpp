#include "app/image_maker_app.h"

int main(int argc, char** argv)
{
    return runImageMaker(argc, argv);
}
