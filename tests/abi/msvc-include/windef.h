// Stand-in for the Windows SDK header in the freestanding Microsoft-ABI compile of the checks
// (no Windows SDK on the build machine): the few types the host SDK uses.
#pragma once

typedef unsigned short WORD;
