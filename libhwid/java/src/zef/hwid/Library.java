package zef.hwid;

import com.sun.jna.Native;
import com.sun.jna.NativeLibrary;
import com.sun.jna.Platform;
import com.sun.jna.Pointer;
import com.sun.jna.ptr.PointerByReference;
import java.io.IOException;
import java.io.InputStream;
import java.io.UncheckedIOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.LinkOption;
import java.nio.file.Path;
import java.nio.file.attribute.UserPrincipal;

/**
 * hwid.h's functions, bound to the libhwid inside this jar: copied out to a folder of its own
 * that only this user can read, and loaded by that absolute path, so that neither
 * jna.library.path nor the system's folders are searched. Strings come back as pointers: the
 * caller copies their bytes before the list is freed.
 */
final class Library {
    private static final String BUILDS = "linux-x86-64, linux-aarch64, win32-x86-64, win32-x86";
    private static final String FOLDER_PREFIX = "zef-hwid-";
    /** Longer than any copy takes to be loaded: a younger folder may be another start's. */
    private static final long STALE_AFTER_MILLIS = 60_000;

    /** A size_t argument or result: a pointer's width on every platform JNA runs on. */
    static Pointer size(long value) {
        return new Pointer(value);
    }

    static long size(Pointer value) {
        return Pointer.nativeValue(value);
    }

    static native Pointer hwid_version();

    static native Pointer hwid_strerror(int status);

    static native int hwid_list_new(PointerByReference list);

    static native void hwid_list_free(Pointer list);

    static native Pointer hwid_list_count(Pointer list);

    static native int hwid_list_type(Pointer list, Pointer index);

    static native Pointer hwid_list_hardware_id(Pointer list, Pointer index);

    static native Pointer hwid_list_device_id(Pointer list, Pointer index);

    static native Pointer hwid_list_comment(Pointer list, Pointer index);

    static native int hwid_generate(byte[] deviceId, Pointer length, byte[] hardwareId);

    static native int hwid_present(byte[] hardwareId);

    static {
        Path file = extracted();
        try {
            Native.register(Library.class, NativeLibrary.getInstance(file.toString()));
        } finally {
            forget(file);
        }
    }

    private Library() {
    }

    private static Path extracted() {
        String name = Platform.isWindows() ? "hwid.dll" : "libhwid.so";
        String resource = "/" + Platform.RESOURCE_PREFIX + "/" + name;
        try (InputStream in = Library.class.getResourceAsStream(resource)) {
            if (in == null) {
                throw new UnsatisfiedLinkError("hwid: no build for " + Platform.RESOURCE_PREFIX
                        + " in this jar (it has " + BUILDS + ")");
            }
            Path folder = Files.createTempDirectory(FOLDER_PREFIX);
            removeStaleCopies(folder, name);
            Path file = folder.resolve(name);
            Files.copy(in, file);
            return file;
        } catch (IOException e) {
            throw new UncheckedIOException("hwid: cannot copy out " + resource, e);
        }
    }

    // Windows cannot delete a DLL that is loaded, so each program's copy outlives it: a later
    // start removes the copies no program holds any more (a held one refuses to go). Only
    // this user's own folders are touched, never through a link.
    private static void removeStaleCopies(Path own, String name) {
        long before = System.currentTimeMillis() - STALE_AFTER_MILLIS;
        try (DirectoryStream<Path> folders =
                Files.newDirectoryStream(own.getParent(), FOLDER_PREFIX + "*")) {
            UserPrincipal user = Files.getOwner(own);
            for (Path folder : folders) {
                try {
                    if (Files.isDirectory(folder, LinkOption.NOFOLLOW_LINKS)
                            && user.equals(Files.getOwner(folder, LinkOption.NOFOLLOW_LINKS))
                            && Files.getLastModifiedTime(folder, LinkOption.NOFOLLOW_LINKS)
                                    .toMillis() < before) {
                        Files.deleteIfExists(folder.resolve(name));
                        Files.delete(folder);
                    }
                } catch (IOException e) {
                    // Held by a running program, or not ours to remove: it stays.
                }
            }
        } catch (IOException e) {
            // An unreadable temporary folder only means nothing is removed.
        }
    }

    // Linux keeps a loaded library mapped once its file is gone; Windows holds the file open,
    // so there it goes when the program ends, if it can.
    private static void forget(Path file) {
        if (Platform.isWindows()) {
            file.getParent().toFile().deleteOnExit();
            file.toFile().deleteOnExit();
            return;
        }
        try {
            Files.deleteIfExists(file);
            Files.deleteIfExists(file.getParent());
        } catch (IOException e) {
            file.toFile().deleteOnExit();
        }
    }
}
