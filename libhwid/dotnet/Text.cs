using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Zef.Hwid
{
    // The library's strings are the devices' bytes: what hwidtool reads on Linux, where they
    // are text as UTF-8, and what hwidwin reads through Windows' ANSI functions, which give
    // them in the process's ANSI code page.
    internal static unsafe class Text
    {
        // Bytes that are not UTF-8 read as U+FFFD instead of throwing: the byte forms keep them.
        internal static readonly Encoding Utf8 = new UTF8Encoding(false, false);

        // The bytes of a NUL-terminated string the library owns, copied out.
        internal static byte[] Bytes(IntPtr text)
        {
            // Read in place: Marshal.ReadByte is a call into the runtime for each byte.
            byte* start = (byte*)text;
            int length = 0;
            while (start[length] != 0) length++;
            var bytes = new byte[length];
            Marshal.Copy(text, bytes, 0, length);
            return bytes;
        }

        internal static string Decode(byte[] bytes)
        {
            return Native.Windows ? Ansi.Decode(bytes) : Utf8.GetString(bytes);
        }

        internal static byte[] Encode(string text)
        {
            return Native.Windows ? Ansi.Encode(text) : Utf8.GetBytes(text);
        }

        // Windows converts itself rather than through Encoding.GetEncoding(GetACP()): on .NET
        // Core that needs CodePagesEncodingProvider registered, which netstandard2.0 lacks, and
        // Encoding.Default there is UTF-8 whatever the code page. CP_ACP is also the code page
        // of this very process, which a manifest's activeCodePage may have made UTF-8.
        static class Ansi
        {
            const uint CP_ACP = 0, CP_UTF8 = 65001, WC_NO_BEST_FIT_CHARS = 0x400;

            [DllImport("kernel32.dll", ExactSpelling = true)]
            static extern uint GetACP();
            [DllImport("kernel32.dll", ExactSpelling = true)]
            static extern int MultiByteToWideChar(uint codePage, uint flags, byte* bytes, int length, char* text, int size);
            [DllImport("kernel32.dll", ExactSpelling = true)]
            static extern int WideCharToMultiByte(uint codePage, uint flags, char* text, int length, byte* bytes, int size, IntPtr defaultChar, IntPtr usedDefault);

            internal static string Decode(byte[] bytes)
            {
                if (bytes.Length == 0) return "";
                fixed (byte* from = bytes)
                {
                    int size = MultiByteToWideChar(CP_ACP, 0, from, bytes.Length, null, 0);
                    var text = new char[Math.Max(size, 1)];
                    fixed (char* to = text)
                        size = MultiByteToWideChar(CP_ACP, 0, from, bytes.Length, to, text.Length);
                    return new string(text, 0, size);
                }
            }

            // No best fit: a character the code page lacks becomes "?", not a look-alike that
            // would be some other device's id. UTF-8 takes no such flag.
            internal static byte[] Encode(string text)
            {
                if (text.Length == 0) return new byte[0];
                uint flags = GetACP() == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
                fixed (char* from = text)
                {
                    int size = WideCharToMultiByte(CP_ACP, flags, from, text.Length, null, 0, IntPtr.Zero, IntPtr.Zero);
                    var bytes = new byte[Math.Max(size, 1)];
                    fixed (byte* to = bytes)
                        size = WideCharToMultiByte(CP_ACP, flags, from, text.Length, to, bytes.Length, IntPtr.Zero, IntPtr.Zero);
                    Array.Resize(ref bytes, size);
                    return bytes;
                }
            }
        }
    }
}
