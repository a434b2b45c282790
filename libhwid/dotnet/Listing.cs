// Prints the machine's rows as hwidtool lists them, or with --generate ID the Hardware ID of ID
// as hwidtool prints it, from Zef.Hwid alone.
using System;
using System.IO;
using System.Text;
using Zef.Hwid;

static class Listing
{
    // Left-aligned in `width` bytes, as printf's %-Ns pads (the width here counting the column's space).
    static void Column(MemoryStream out_, byte[] bytes, int width)
    {
        out_.Write(bytes, 0, bytes.Length);
        for (int i = bytes.Length; i < width; i++) out_.WriteByte((byte)' ');
    }

    static void Column(MemoryStream out_, string ascii, int width)
    {
        Column(out_, Encoding.ASCII.GetBytes(ascii), width);
    }

    // The length of the well-formed UTF-8 sequence at bytes[i], 0 if there is none.
    static int Sequence(byte[] b, int i)
    {
        int lead = b[i], n, low = 0x80, high = 0xbf;
        if (lead < 0x80) return 1;
        if (lead >= 0xc2 && lead <= 0xdf) n = 2;
        else if (lead >= 0xe0 && lead <= 0xef) { n = 3; if (lead == 0xe0) low = 0xa0; if (lead == 0xed) high = 0x9f; }
        else if (lead >= 0xf0 && lead <= 0xf4) { n = 4; if (lead == 0xf0) low = 0x90; if (lead == 0xf4) high = 0x8f; }
        else return 0;
        if (i + n > b.Length || b[i + 1] < low || b[i + 1] > high) return 0;
        for (int k = 2; k < n; k++) if (b[i + k] < 0x80 || b[i + k] > 0xbf) return 0;
        return n;
    }

    // Each control character (C0, DEL, C1) and each byte outside well-formed UTF-8 as "?".
    static byte[] TerminalSafe(byte[] b)
    {
        var safe = new MemoryStream();
        for (int i = 0; i < b.Length;)
        {
            int n = Sequence(b, i);
            bool control = n == 1 ? b[i] < 0x20 || b[i] == 0x7f : n == 2 && b[i] == 0xc2 && b[i + 1] <= 0x9f;
            if (n == 0 || control) safe.WriteByte((byte)'?');
            else safe.Write(b, i, n);
            i += Math.Max(n, 1);
        }
        return safe.ToArray();
    }

    static byte[] Print(string[] args)
    {
        if (args.Length == 2 && args[0] == "--generate")
            return Encoding.UTF8.GetBytes("\n" + args[1] + ": " + HardwareIds.Generate(args[1]) + "\n\n");
        var out_ = new MemoryStream();
        Column(out_, "\nAvailable unique ids:\n\n", 0);
        Column(out_, "TYPE", 6);
        Column(out_, "Hardware ID", 33);
        Column(out_, "Comment", 40);
        Column(out_, "\n" + new string('-', 78) + "\n", 0);
        foreach (HardwareIdRow row in HardwareIds.List())
        {
            Column(out_, row.Type == DeviceType.Nic ? "NIC" : row.Type == DeviceType.Usb ? "USB" : "", 6);
            Column(out_, row.HardwareId, 33);
            Column(out_, TerminalSafe(row.CommentBytes), 40);
            out_.WriteByte((byte)'\n');
        }
        Column(out_, "\n\n\n", 0);
        return out_.ToArray();
    }

    static void Main(string[] args)
    {
        byte[] text = Print(args);
        using (Stream stdout = Console.OpenStandardOutput()) stdout.Write(text, 0, text.Length);
    }
}
