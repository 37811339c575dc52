#include "clistatus.h"

std::string StatusMeaning(int nStatus)
{
    switch (nStatus) {
    case CLI_OK:
        return "the device holds the image";
    case CLI_REFUSED:
        return "the device refused a frame";
    case CLI_USAGE:
        return "usage error";
    case CLI_PORT:
        return "the port could not be opened or failed";
    case CLI_IMAGE:
        return "the image could not be read or changed";
    case CLI_SILENT:
        return "the device went silent";
    case CLI_LOG:
        return "the log or the report could not be written";
    default:
        return nStatus > 128 ? "interrupted" : "failed";
    }
}
