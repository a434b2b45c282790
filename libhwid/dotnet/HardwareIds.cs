using System;
using System.Collections.Generic;
using System.Collections.ObjectModel;
using System.Text;

namespace Zef.Hwid
{
    /// <summary>The kind of device a row comes from, numbered as hwidtool and hwidwin number them.</summary>
    public enum DeviceType
    {
        /// <summary>A network adapter, listed as "NIC"; its device id is its network address.</summary>
        Nic = 1,
        /// <summary>A USB storage device, listed as "USB"; its device id is its serial number.</summary>
        Usb = 2,
    }

    /// <summary>
    /// One row of the machine's listing, copied out of libhwid: nothing in it points into the
    /// library. Immutable, so it may be shared between threads.
    /// </summary>
    public sealed class HardwareIdRow
    {
        readonly byte[] deviceId, comment;

        internal HardwareIdRow(DeviceType type, string hardwareId, byte[] deviceId, byte[] comment)
        {
            Type = type;
            HardwareId = hardwareId;
            this.deviceId = deviceId;
            this.comment = comment;
            DeviceId = Text.Decode(deviceId);
            Comment = Text.Decode(comment);
        }

        /// <summary>The kind of device.</summary>
        public DeviceType Type { get; }

        /// <summary>The Hardware ID: the MD5 digest of the device id, 32 uppercase hexadecimal digits.</summary>
        public string HardwareId { get; }

        /// <summary>
        /// The device id as text: its bytes decoded as UTF-8 on Linux and with the process's ANSI
        /// code page on Windows, as the programs read them. A byte that is not text there reads as
        /// U+FFFD; <see cref="DeviceIdBytes"/> keeps it.
        /// </summary>
        public string DeviceId { get; }

        /// <summary>
        /// The interface name, or the maker and product the device reports, decoded as
        /// <see cref="DeviceId"/> is. It may hold terminal control codes: make it safe before
        /// showing it.
        /// </summary>
        public string Comment { get; }

        /// <summary>
        /// The device id's exact bytes, as the programs hash them; a new array on each get.
        /// <c>HardwareIds.Generate(row.DeviceIdBytes) == row.HardwareId</c> always holds.
        /// </summary>
        public byte[] DeviceIdBytes { get { return (byte[])deviceId.Clone(); } }

        /// <summary>The comment's exact bytes, as the device gave them; a new array on each get.</summary>
        public byte[] CommentBytes { get { return (byte[])comment.Clone(); } }

        /// <summary>The row as the programs list it, without making the comment safe.</summary>
        /// <returns>The type, the Hardware ID and the comment.</returns>
        public override string ToString()
        {
            return (Type == DeviceType.Nic ? "NIC" : Type == DeviceType.Usb ? "USB" : "") + " " + HardwareId + " " + Comment;
        }
    }

    /// <summary>
    /// A failure inside libhwid: memory ran out, or the machine's hardware could not be read.
    /// </summary>
    public sealed class HwidException : Exception
    {
        internal HwidException(int status) : base(Describe(status))
        {
            Status = status;
        }

        /// <summary>The library's status: -2 when memory ran out, -3 for any other failure.</summary>
        public int Status { get; }

        static string Describe(int status)
        {
            return Text.Utf8.GetString(Text.Bytes(Native.Api.Strerror(status))) + " (status " + status + ")";
        }
    }

    /// <summary>
    /// The Hardware IDs of this machine, as hwidtool (Linux) and hwidwin (Windows) list them:
    /// the same devices, in the same order, from the same probe pass.
    /// </summary>
    /// <remarks>
    /// Every call goes to the libhwid that ships with this assembly, loaded by its absolute path
    /// from the assembly's folder or its <c>runtimes/RID/native/</c> folder: a libhwid.so or
    /// hwid.dll in the current folder, on PATH or in LD_LIBRARY_PATH is never loaded. Every member
    /// may be called from several threads at once: the library keeps no state between calls.
    /// </remarks>
    public static class HardwareIds
    {
        const int Invalid = -1, Internal = -3; // hwid.h's HWID_E_INVALID, HWID_E_INTERNAL
        const int IdSize = 33; // 32 hexadecimal digits and the NUL

        /// <summary>The version of the programs whose rows the library gives, such as "2.26.0.0".</summary>
        public static string Version
        {
            get { return Encoding.ASCII.GetString(Text.Bytes(Native.Api.Version())); }
        }

        /// <summary>The machine's rows, in the programs' order, from one probe pass.</summary>
        /// <returns>The rows, possibly none.</returns>
        /// <exception cref="HwidException">The hardware could not be read, or memory ran out.</exception>
        public static IReadOnlyList<HardwareIdRow> List()
        {
            Native api = Native.Api;
            IntPtr list;
            Checked(api.ListNew(out list));
            try
            {
                ulong count = api.ListCount(list).ToUInt64();
                var rows = new List<HardwareIdRow>();
                for (ulong i = 0; i < count; i++)
                {
                    var index = new UIntPtr(i);
                    int type = Checked(api.ListType(list, index));
                    IntPtr hardwareId = api.HardwareId(list, index), deviceId = api.DeviceId(list, index),
                        comment = api.Comment(list, index);
                    if (hardwareId == IntPtr.Zero || deviceId == IntPtr.Zero || comment == IntPtr.Zero)
                        throw new HwidException(Internal);
                    rows.Add(new HardwareIdRow((DeviceType)type, Encoding.ASCII.GetString(Text.Bytes(hardwareId)),
                        Text.Bytes(deviceId), Text.Bytes(comment)));
                }
                return new ReadOnlyCollection<HardwareIdRow>(rows);
            }
            finally
            {
                api.ListFree(list);
            }
        }

        /// <summary>The Hardware ID of a device id's exact bytes, as <c>hwidtool --generate</c> prints it.</summary>
        /// <param name="deviceId">The bytes, NUL bytes included.</param>
        /// <returns>32 uppercase hexadecimal digits.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="deviceId"/> is null.</exception>
        public static unsafe string Generate(byte[] deviceId)
        {
            if (deviceId == null) throw new ArgumentNullException("deviceId");
            var hardwareId = new byte[IdSize];
            // An empty array is fixed as a null pointer, which the library refuses.
            byte[] bytes = deviceId.Length == 0 ? new byte[1] : deviceId;
            fixed (byte* from = bytes)
            fixed (byte* to = hardwareId)
                Checked(Native.Api.Generate(from, new UIntPtr((uint)deviceId.Length), to));
            return Encoding.ASCII.GetString(hardwareId, 0, IdSize - 1);
        }

        /// <summary>
        /// The Hardware ID of a device id given as text, encoded as <see cref="HardwareIdRow.DeviceId"/>
        /// is decoded (UTF-8 on Linux, the ANSI code page on Windows), so that
        /// <c>Generate(row.DeviceId) == row.HardwareId</c> wherever the row's bytes are text there.
        /// </summary>
        /// <param name="deviceId">The device id.</param>
        /// <returns>32 uppercase hexadecimal digits.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="deviceId"/> is null.</exception>
        public static string Generate(string deviceId)
        {
            if (deviceId == null) throw new ArgumentNullException("deviceId");
            return Generate(Text.Encode(deviceId));
        }

        /// <summary>Whether a Hardware ID is that of one of this machine's rows now.</summary>
        /// <param name="hardwareId">Exactly 32 hexadecimal digits, either case.</param>
        /// <returns>True when a row of a list taken now has it.</returns>
        /// <exception cref="ArgumentNullException"><paramref name="hardwareId"/> is null.</exception>
        /// <exception cref="ArgumentException"><paramref name="hardwareId"/> is any other text.</exception>
        /// <exception cref="HwidException">The hardware could not be read, or memory ran out.</exception>
        public static unsafe bool IsPresent(string hardwareId)
        {
            if (hardwareId == null) throw new ArgumentNullException("hardwareId");
            var text = new byte[IdSize];
            bool wellFormed = hardwareId.Length == IdSize - 1;
            for (int i = 0; wellFormed && i < hardwareId.Length; i++)
            {
                char c = hardwareId[i];
                wellFormed = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
                text[i] = (byte)c;
            }
            if (!wellFormed)
                throw new ArgumentException("not a Hardware ID of 32 hexadecimal digits: \"" + hardwareId + "\"", "hardwareId");
            fixed (byte* id = text)
                return Checked(Native.Api.Present(id)) == 1;
        }

        static int Checked(int status)
        {
            if (status == Invalid) throw new ArgumentException(Text.Utf8.GetString(Text.Bytes(Native.Api.Strerror(status))));
            if (status < 0) throw new HwidException(status);
            return status;
        }
    }
}
