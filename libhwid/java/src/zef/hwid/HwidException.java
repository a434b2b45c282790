package zef.hwid;

/** A failure inside libhwid: memory ran out, or the hardware could not be read. */
public final class HwidException extends RuntimeException {
    private static final long serialVersionUID = 1L;
    private final int status;

    HwidException(int status, String text) {
        super(text + " (status " + status + ")");
        this.status = status;
    }

    /** The library's status: HWID_E_NOMEM (-2) or HWID_E_INTERNAL (-3). */
    public int status() {
        return status;
    }
}
