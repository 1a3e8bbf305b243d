#include "tools/archive/tool.h"

int main(int argc, char** argv)
{
    return tool_main(argc, argv);
}
