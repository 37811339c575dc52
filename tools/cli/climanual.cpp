#include "climanual.h"

#include "clioptions.h"

SManual CliManual()
{
    SManual manual;
    manual.pszName = "brem-cli";
    manual.pszSummary = "download firmware images to devices on serial ports";
    manual.options = CCliOptions::OptionDocs();
    manual.synopsis = {
        "[--port PORT] [--baud RATE] [--timeout SECONDS] IMAGE",
        "--port PORT --port PORT ...|--port all [--watch] [--report FILE] [--baud RATE] "
        "[--timeout SECONDS] IMAGE",
        "--list-ports",
        "--help",
    };
    manual.description = {
        "Downloads IMAGE to the device on the serial port, as the window's DOWN does: polls "
        "it with P, reads its 48-byte identification, then sends the image in checksummed "
        "frames, each acknowledged before the next.",
        "Standard output carries the window's log lines, one per line (\"There are total 3 "
        "Frame\", the identification, \"Handshake OK\", \"Frame 1  OK\", ... \"DownLoad OK\" or "
        "\"CheckSum Error\"). Text from the image or the device shows control bytes, ESC, DEL "
        "and 8-bit bytes as \\xNN and a backslash as \\\\, so nothing reaches the terminal's "
        "escape parser. Standard error carries a progress bar (frames, bytes, rate, time left) "
        "on a terminal, a plain line per tenth of the image otherwise, and always ends with one "
        "`brem-cli:` line that says what the exit status means.",
        "The image is read whole when the download starts, under a lock that other downloads "
        "share and a writer that locks cannot take. The port is closed and its line settings "
        "restored on every path, signals and a closed standard output included.",
        "More than one `--port`, `--port all`, `--watch` or `--report` make a multi-device "
        "run, which prints results rather than the log. The image is read once; each device "
        "gets a download of its own, and one that refuses a frame, goes silent or is pulled "
        "out fails alone while the others go on. On a terminal, standard error shows a live "
        "line per device and a tally; elsewhere a plain line per event. Standard output gets "
        "one result line per device (port, outcome and status, time, identification, why) "
        "at the end, or with `--watch` as each device ends.",
    };
    manual.pszOperands = COMPLETE_FILES;
    manual.exitStatus = {
        { "0",
            "the device acknowledged every frame after it had gone out, and the image file "
            "still holds what it got" },
        { "1", "the device refused a frame (CheckSum Error)" },
        { "2", "usage error" },
        { "3",
            "the port cannot be opened (the last line says why and what to do) or "
            "configured at the line asked for, the `--reset-pulse` cannot be played, or the "
            "port failed during the download (device unplugged)" },
        { "4",
            "the image cannot be opened, is empty or over 64 MiB, or changed during the "
            "download" },
        { "5", "the device took no step within `--timeout`" },
        { "6",
            "the log could not be written to standard output (the download went on); with "
            "several devices, the report or the results" },
        { "128+N",
            "ended by signal N: 129 SIGHUP, 130 Ctrl+C, 131 SIGQUIT, 141 standard output "
            "closed, 143 SIGTERM" },
    };
    manual.pszExitNote = "With several devices: 0 when every device holds the image, else the "
                         "highest status of any one device.";
    manual.environment = {
        { "BREM_PORTS_DIR", "the ports folder (default ~/.config/brem/ports)" },
        { "HOME", "where the default ports folder is" },
    };
    manual.files = {
        { "~/.config/brem/ports/COMn",
            "a link that makes COMn stand for a device, such as an adapter's "
            "/dev/serial/by-id name, so that COMn finds it in whichever USB socket it is" },
        { "/dev/serial/by-id", "the adapters' stable names, which `--port` takes" },
        { "/sys/class/tty",
            "the serial devices present, and their adapters' names and serial numbers" },
    };
    manual.examples = {
        { "brem-cli --port ttyUSB0 firmware.bin",
            "Download firmware.bin to the device on the first USB serial adapter at 115200 "
            "baud:" },
        { "brem-cli --list-ports",
            "See which serial devices are there and where COM1 to COM20 lead:" },
        { "mkdir -p ~/.config/brem/ports\n"
          "ln -sf /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 \\\n"
          "    ~/.config/brem/ports/COM3\n"
          "brem-cli --port COM3 --baud 57600 --timeout 10 firmware.bin",
            "Make COM3 the adapter with that serial number, in whichever socket, and download "
            "at 57600 baud, giving up after 10 silent seconds:" },
        { "brem-cli --port all --report line-3.jsonl firmware.bin",
            "Flash every serial device present at once, and append a line per device to a "
            "report:" },
        { "brem-cli --watch --report line-3.jsonl firmware.bin",
            "A station: flash each device as it is plugged in, until Ctrl+C:" },
        { "brem-sim --out received.bin\n"
          "brem-cli --port /dev/pts/7 firmware.bin",
            "Try it without a device: brem-sim prints the path of a simulated device (here "
            "/dev/pts/7); download to it from another terminal:" },
    };
    manual.seeAlso = { "brem(1)", "brem-sim(1)" };
    return manual;
}
