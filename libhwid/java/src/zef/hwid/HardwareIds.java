package zef.hwid;

import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import com.sun.jna.ptr.PointerByReference;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Objects;
import java.util.regex.Pattern;

/**
 * The Hardware IDs of this machine, as hwidtool (Linux) and hwidwin (Windows) list them, from
 * the libhwid inside this jar. Every method may be called from several threads at once: the
 * library keeps no state between calls.
 *
 * <p>Device ids and comments are the devices' bytes. Their text forms are decoded as the
 * platform's program reads them: UTF-8 on Linux, the ANSI code page ({@code native.encoding})
 * on Windows; {@link #generate(String)} encodes back the same way. Bytes that are not valid in
 * that encoding do not survive as text: {@code generate(row.deviceIdBytes())} is
 * {@code row.hardwareId()} for every row.
 */
public final class HardwareIds {
    public static final int NIC = 1, USB = 2;

    private static final int E_INVALID = -1, E_INTERNAL = -3, ID_SIZE = 33;
    private static final Charset TEXT = Platform.isWindows()
            ? Charset.forName(System.getProperty("native.encoding")) : StandardCharsets.UTF_8;
    private static final Pattern HARDWARE_ID = Pattern.compile("[0-9A-Fa-f]{32}");

    private HardwareIds() {
    }

    /** The version of the programs whose rows the library gives, such as "2.26.0.0". */
    public static String version() {
        return new String(bytes(Library.hwid_version()), StandardCharsets.US_ASCII);
    }

    /** The machine's rows, in the programs' order, from one probe pass. */
    public static List<Row> list() {
        PointerByReference handle = new PointerByReference();
        checked(Library.hwid_list_new(handle));
        Pointer list = handle.getValue();
        try {
            int count = (int) Library.size(Library.hwid_list_count(list));
            List<Row> rows = new ArrayList<>(count);
            for (int i = 0; i < count; i++) {
                Pointer index = Library.size(i);
                int type = checked(Library.hwid_list_type(list, index));
                String hardwareId = new String(bytes(Library.hwid_list_hardware_id(list, index)),
                        StandardCharsets.US_ASCII);
                byte[] deviceId = bytes(Library.hwid_list_device_id(list, index));
                byte[] comment = bytes(Library.hwid_list_comment(list, index));
                rows.add(new Row(type, hardwareId, new String(deviceId, TEXT),
                        new String(comment, TEXT), deviceId, comment));
            }
            return Collections.unmodifiableList(rows);
        } finally {
            Library.hwid_list_free(list);
        }
    }

    /** The Hardware ID of a device id's bytes: 32 uppercase hexadecimal digits. */
    public static String generate(byte[] deviceId) {
        Objects.requireNonNull(deviceId, "deviceId");
        // One byte more than the id, so that an empty id is still an array the library can read.
        byte[] data = Arrays.copyOf(deviceId, deviceId.length + 1);
        byte[] hardwareId = new byte[ID_SIZE];
        checked(Library.hwid_generate(data, Library.size(deviceId.length), hardwareId));
        return new String(hardwareId, 0, ID_SIZE - 1, StandardCharsets.US_ASCII);
    }

    /** The Hardware ID of a device id, encoded as {@link #list()} decodes it. */
    public static String generate(String deviceId) {
        return generate(Objects.requireNonNull(deviceId, "deviceId").getBytes(TEXT));
    }

    /**
     * Whether the Hardware ID is a row of this machine now.
     *
     * @throws IllegalArgumentException unless it is exactly 32 hexadecimal digits (either case)
     */
    public static boolean isPresent(String hardwareId) {
        Objects.requireNonNull(hardwareId, "hardwareId");
        if (!HARDWARE_ID.matcher(hardwareId).matches()) {
            throw new IllegalArgumentException("not a Hardware ID of 32 hexadecimal digits: "
                    + hardwareId);
        }
        byte[] text = Arrays.copyOf(hardwareId.getBytes(StandardCharsets.US_ASCII), ID_SIZE);
        return checked(Library.hwid_present(text)) == 1;
    }

    private static byte[] bytes(Pointer text) {
        if (text == null) {
            throw failure(E_INTERNAL);
        }
        return text.getByteArray(0, (int) text.indexOf(0, (byte) 0));
    }

    private static int checked(int status) {
        if (status == E_INVALID) {
            throw new IllegalArgumentException(strerror(status));
        }
        if (status < 0) {
            throw failure(status);
        }
        return status;
    }

    private static HwidException failure(int status) {
        return new HwidException(status, strerror(status));
    }

    private static String strerror(int status) {
        Pointer text = Library.hwid_strerror(status);
        return text.getString(0, StandardCharsets.US_ASCII.name());
    }
}
