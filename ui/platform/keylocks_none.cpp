#include "keylocks.h"

CKeyLocks ReadKeyLocks()
{
    return CKeyLocks();
}
