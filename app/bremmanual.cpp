#include "bremmanual.h"

namespace {

struct SOption {
    SOptionDoc doc;
};

// brem's own options; Qt's (-platform, -style...) are Qt's to document.
const SOption g_options[] = {
    { { "--help", "-h", nullptr, "show this help and exit, without opening a window" } },
};

} // namespace

bool BremHelpAsked(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const SOption* pOption = FindOption(g_options, argv[i]);
        if (pOption && std::string(pOption->doc.pszName) == "--help")
            return true;
    }
    return false;
}

SManual BremManual()
{
    SManual manual;
    manual.pszName = "brem";
    manual.pszSummary = "firmware downloader and serial terminal";
    manual.synopsis = { "[FILE]", "--help" };
    manual.options = OptionDocs(g_options);
    manual.description = {
        "Opens a window that downloads firmware images to a device on a serial port and is a "
        "serial terminal when no download runs. FILE, when given, is loaded into the log.",
        "Pick a port and a baud rate in the two lists at the bottom left and press Open; press "
        "Load to choose a .bin image and DOWN to send it. Brem polls the device with P, reads "
        "its 48-byte identification and sends the image in checksummed frames, each "
        "acknowledged before the next, with every step in the log and the progress bar; "
        "\"DownLoad OK\" ends a download that the device took whole.",
        "While no download runs, keys typed into the log go to the device (Enter as CR, "
        "Ctrl+A to Ctrl+Z as control codes) and what the device sends shows in the log: as "
        "UTF-8 text in which control codes and bytes that do not decode are boxes with their "
        "names, as Latin-1 or as hex, with the time each line arrived if asked (View menu). "
        "Ctrl+S saves the log's bytes, Ctrl+O loads a file into it, Ctrl+N empties it. F3 and "
        "Shift+F3 find the next and the previous match of text or hex bytes in the log (Edit "
        "menu); Ctrl+F stays a control code for the device. File > Capture to File... writes "
        "every byte received and sent to a file as it crosses the port, raw or as timed lines.",
        "The port list names COM1 to COM20 and each serial device present, such as ttyUSB0 "
        "with its adapter's name and serial number, and takes a device path typed in. It "
        "follows adapters as they are plugged in and pulled out; an open port whose adapter "
        "was pulled opens again by itself when the same adapter returns.",
        "Qt's own options, such as -platform and -style, are taken too.",
    };
    manual.exitStatus = {
        { "0", "the window was closed" },
        { "1", "FILE cannot be loaded" },
    };
    manual.environment = {
        { "BREM_PORTS_DIR", "the ports folder (default ~/.config/brem/ports)" },
        { "HOME", "where the default ports folder and the settings are" },
        { "DISPLAY, WAYLAND_DISPLAY", "the display the window opens on" },
        { "QT_QPA_PLATFORM", "Qt's platform plugin, such as offscreen for no display at all" },
    };
    manual.files = {
        { "~/.config/brem/ports/COMn",
            "a link that makes COMn stand for a device, such as an adapter's "
            "/dev/serial/by-id name, so that COMn finds it in whichever USB socket it is" },
        { "/dev/serial/by-id", "the adapters' stable names, by which an adapter is known again" },
        { "/sys/class/tty",
            "the serial devices present, and their adapters' names and serial numbers" },
        { "~/.config/Local AppWizard-Generated Applications/Brem.conf",
            "the settings: the files opened last" },
    };
    manual.examples = {
        { "brem", "Start with an empty log:" },
        { "brem session.log", "Start with a saved log in the window:" },
        { "brem-sim --link ~/.config/brem/ports/COM1 &\nbrem",
            "Try it without a device: a simulated one on COM1, then the window:" },
    };
    manual.seeAlso = { "brem-cli(1)", "brem-sim(1)" };
    return manual;
}
