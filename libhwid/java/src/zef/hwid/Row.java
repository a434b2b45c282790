package zef.hwid;

import java.util.Arrays;

/**
 * One row of the machine, as the programs list it. The text forms are decoded as this platform's
 * program reads the device's bytes (UTF-8 on Linux, the ANSI code page on Windows); the byte
 * forms are those bytes exactly, a fresh copy on each call.
 */
public record Row(int type, String hardwareId, String deviceId, String comment,
                  byte[] deviceIdBytes, byte[] commentBytes) {
    public Row {
        deviceIdBytes = deviceIdBytes.clone();
        commentBytes = commentBytes.clone();
    }

    /** The device id's exact bytes: {@code generate(deviceIdBytes())} is {@link #hardwareId()}. */
    @Override
    public byte[] deviceIdBytes() {
        return deviceIdBytes.clone();
    }

    /** The comment's exact bytes; they may hold terminal control codes. */
    @Override
    public byte[] commentBytes() {
        return commentBytes.clone();
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof Row row && type == row.type && hardwareId.equals(row.hardwareId)
                && Arrays.equals(deviceIdBytes, row.deviceIdBytes)
                && Arrays.equals(commentBytes, row.commentBytes);
    }

    @Override
    public int hashCode() {
        return 31 * hardwareId.hashCode() + Arrays.hashCode(commentBytes);
    }

    @Override
    public String toString() {
        return "Row[type=" + type + ", hardwareId=" + hardwareId + ", deviceId=" + deviceId
                + ", comment=" + comment + "]";
    }
}
