// Checks the hwid jar on a machine that lists ROWS rows (tests/system/machines.py --checker): as
// many rows, from eight threads at once as from one; each Hardware ID that of its exact bytes,
// and of its text wherever the bytes are UTF-8 (a Java string cannot hold others); the errors as
// the jar documents them. Exit status 0 when all held.
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import zef.hwid.HardwareIds;
import zef.hwid.Row;

public final class CheckRows {
    public static void main(String[] args) throws Exception {
        List<Row> rows = HardwareIds.list();
        List<String> found = new ArrayList<>();
        if (rows.size() != Integer.parseInt(args[0])) {
            found.add(rows.size() + " rows, not " + args[0]);
        }
        ExecutorService threads = Executors.newFixedThreadPool(8);
        List<Future<List<Row>>> fromThreads = new ArrayList<>();
        for (int i = 0; i < 8; i++) {
            fromThreads.add(threads.submit(HardwareIds::list));
        }
        for (Future<List<Row>> other : fromThreads) {
            if (!other.get().equals(rows)) {
                found.add("a thread's rows differ");
            }
        }
        threads.shutdown();
        int beyond = 0;
        for (Row row : rows) {
            byte[] id = row.deviceIdBytes();
            boolean utf8 = Arrays.equals(row.deviceId().getBytes(StandardCharsets.UTF_8), id);
            if (!HardwareIds.generate(id).equals(row.hardwareId())
                    || utf8 && !HardwareIds.generate(row.deviceId()).equals(row.hardwareId())) {
                found.add("generate(" + row.deviceId() + ") is not " + row.hardwareId());
            }
            if (!HardwareIds.isPresent(row.hardwareId().toLowerCase())) {
                found.add("isPresent(" + row.hardwareId().toLowerCase() + ") is false");
            }
            beyond += new String(id, StandardCharsets.ISO_8859_1).matches("\\p{ASCII}*")
                    && new String(row.commentBytes(), StandardCharsets.ISO_8859_1)
                    .matches("\\p{ASCII}*") ? 0 : 1;
        }
        for (String wrong : new String[] {"0".repeat(31), "G".repeat(32), "0".repeat(33)}) {
            try {
                HardwareIds.isPresent(wrong);
                found.add("isPresent(" + wrong + ") threw nothing");
            } catch (IllegalArgumentException expected) {
                // as documented
            }
        }
        if (!found.isEmpty()) {
            System.err.println(String.join("\n", found));
            System.exit(1);
        }
        System.out.println(rows.size() + " rows, each its Hardware ID, " + beyond
                + " with bytes beyond ASCII, 8 threads agreeing");
    }
}
