#include "simmanual.h"

#include "simoptions.h"

SManual SimManual()
{
    SManual manual;
    manual.pszName = "brem-sim";
    manual.pszSummary = "a simulated device for trying Brem without hardware";
    manual.synopsis = { "[OPTION]..." };
    manual.options = CSimOptions::OptionDocs();
    manual.description = {
        "Plays the device end of Brem's download protocol on a new pseudo-terminal (or on "
        "`--device` TTY) and prints the path of the port to open as the first line of its "
        "standard output.",
        "Idle, it answers P with P and its 48 identification bytes. After that, 0x06 starts a "
        "download: each frame (start 0x02, big-endian length 1 to 4096, data, XOR of the data, "
        "end 0x17 after 4096 bytes and 0x03 after fewer) is answered 0x05, or 0x15 when it is "
        "bad, which ends the download. A download also ends with an accepted short frame or, "
        "after a full one, with the next P or `--idle-ms` without a byte. The options give it "
        "the faults of devices that misbehave.",
        "It holds the far end of the pseudo-terminal open and raw, so a host may open, close "
        "and reopen the port freely. On exit it prints one summary line of key=value pairs: "
        "downloads, frames_accepted, frames_refused, bytes (of the last download), image (ok, "
        "bad, refused, incomplete or none), crc32 of those bytes and exit (signal, once, hangup "
        "or timeout); `--expect-baud` and its kin add line (ok or wrong), `--stats` adds "
        "turnaround and download times, `--flood` what it sent.",
    };
    manual.exitStatus = {
        { "0", "ended by a signal, `--once`, `--hangup-after` or `--exit-after`" },
        { "1", "the line, the link or the `--out` file cannot be opened" },
        { "2", "usage error" },
        { "3",
            "the host's line was not set as `--expect-baud`, `--expect-stop-bits` or "
            "`--expect-flow` asked" },
    };
    manual.examples = {
        { "brem-sim --out received.bin",
            "A device to download to: it prints its path (such as /dev/pts/7), which brem-cli's "
            "`--port` takes, and keeps what it received:" },
        { "brem-sim --link ~/.config/brem/ports/COM5",
            "The same device as COM5, in brem's port list and for brem-cli:" },
        { "brem-sim --refuse 3", "A device that refuses the third frame of each download:" },
        { "brem-sim --banner 'BOOT 2.4' --noise 100 --delay-ms 50",
            "A device that talks before it answers the poll, and answers slowly:" },
        { "brem-sim --mute", "A device that never answers:" },
    };
    manual.seeAlso = { "brem(1)", "brem-cli(1)" };
    return manual;
}
