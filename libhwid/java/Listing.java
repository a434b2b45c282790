// Prints the machine's rows as hwidtool lists them, or with --generate ID the Hardware ID of ID
// as hwidtool prints it, from the hwid jar alone.
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import zef.hwid.HardwareIds;
import zef.hwid.Row;

public final class Listing {
    private static void write(ByteArrayOutputStream out, String text) {
        out.writeBytes(text.getBytes(StandardCharsets.UTF_8));
    }

    // The length of the well-formed UTF-8 sequence at bytes[i], 0 if there is none.
    private static int sequence(byte[] bytes, int i) {
        int lead = bytes[i] & 0xff;
        if (lead < 0x80) {
            return 1;
        }
        int n = lead >= 0xc2 && lead <= 0xdf ? 2 : lead >= 0xe0 && lead <= 0xef ? 3
                : lead >= 0xf0 && lead <= 0xf4 ? 4 : 0;
        int low = lead == 0xe0 ? 0xa0 : lead == 0xf0 ? 0x90 : 0x80;
        int high = lead == 0xed ? 0x9f : lead == 0xf4 ? 0x8f : 0xbf;
        if (n == 0 || i + n > bytes.length) {
            return 0;
        }
        for (int k = 1; k < n; k++) {
            int next = bytes[i + k] & 0xff;
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xbf)) {
                return 0;
            }
        }
        return n;
    }

    // Each control character (C0, DEL, C1) and each byte outside well-formed UTF-8 as "?":
    // what the device says, safe for a terminal.
    private static byte[] terminalSafe(byte[] bytes) {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        for (int i = 0; i < bytes.length;) {
            int n = sequence(bytes, i);
            boolean control = n == 1 ? bytes[i] < 0x20 || bytes[i] == 0x7f
                    : n == 2 && (bytes[i] & 0xff) == 0xc2 && (bytes[i + 1] & 0xff) <= 0x9f;
            if (n == 0 || control) {
                out.write('?');
            } else {
                out.write(bytes, i, n);
            }
            i += Math.max(n, 1);
        }
        return out.toByteArray();
    }

    public static void main(String[] args) throws IOException {
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        if (args.length == 2 && args[0].equals("--generate")) {
            write(out, "\n" + args[1] + ": " + HardwareIds.generate(args[1]) + "\n\n");
        } else {
            write(out, String.format("\nAvailable unique ids:\n\n%-5s %-32s %-40s\n%s\n", "TYPE",
                    "Hardware ID", "Comment", "-".repeat(78)));
            for (Row row : HardwareIds.list()) {
                String type = row.type() == HardwareIds.NIC ? "NIC"
                        : row.type() == HardwareIds.USB ? "USB" : "";
                write(out, String.format("%-5s %-32s ", type, row.hardwareId()));
                byte[] comment = terminalSafe(row.commentBytes());
                out.writeBytes(comment);
                write(out, " ".repeat(Math.max(0, 40 - comment.length)) + "\n");
            }
            write(out, "\n\n\n");
        }
        System.out.write(out.toByteArray());
        System.out.flush();
    }
}
