// Checks Zef.Hwid on a machine that lists ROWS rows (tests/system/machines.py --checker): as
// many rows, from eight threads at once as from one; each Hardware ID that of its exact bytes,
// and of its text wherever the bytes are UTF-8; the errors as the API documents them. Exit
// status 0 when all held.
using System;
using System.Collections.Generic;
using System.Linq;
using System.Text;
using System.Threading;
using Zef.Hwid;

static class CheckRows
{
    static string Flat(IReadOnlyList<HardwareIdRow> rows)
    {
        return string.Join("\n", rows.Select(r => (int)r.Type + " " + r.HardwareId + " " + BitConverter.ToString(r.DeviceIdBytes)
            + " " + BitConverter.ToString(r.CommentBytes) + " " + r.DeviceId + " " + r.Comment));
    }

    static int Main(string[] args)
    {
        var problems = new List<string>();
        IReadOnlyList<HardwareIdRow> rows = HardwareIds.List();
        var fromThreads = new string[8];
        var threads = Enumerable.Range(0, 8).Select(i => new Thread(() => fromThreads[i] = Flat(HardwareIds.List()))).ToList();
        threads.ForEach(t => t.Start());
        threads.ForEach(t => t.Join());
        if (rows.Count != int.Parse(args[0])) problems.Add(rows.Count + " rows, not " + args[0]);
        if (fromThreads.Any(f => f != Flat(rows))) problems.Add("a thread's rows differ");
        var strict = new UTF8Encoding(false, true);
        int beyond = 0;
        foreach (HardwareIdRow row in rows)
        {
            bool utf8 = strict.GetBytes(row.DeviceId).SequenceEqual(row.DeviceIdBytes);
            if (HardwareIds.Generate(row.DeviceIdBytes) != row.HardwareId || (utf8 && HardwareIds.Generate(row.DeviceId) != row.HardwareId))
                problems.Add("Generate(" + row.DeviceId + ") is not " + row.HardwareId);
            if (!HardwareIds.IsPresent(row.HardwareId.ToLowerInvariant())) problems.Add("IsPresent(" + row.HardwareId + ") is false");
            if (row.DeviceIdBytes.Concat(row.CommentBytes).Any(b => b > 0x7f)) beyond++;
        }
        foreach (string wrong in new[] { new string('0', 31), new string('G', 32), new string('0', 33), null })
        {
            try { HardwareIds.IsPresent(wrong); problems.Add("IsPresent(" + wrong + ") threw nothing"); }
            catch (ArgumentNullException) { if (wrong != null) problems.Add("IsPresent(" + wrong + ") threw ArgumentNullException"); }
            catch (ArgumentException) { if (wrong == null) problems.Add("IsPresent(null) threw ArgumentException"); }
        }
        if (HardwareIds.Generate(new byte[0]) != "D41D8CD98F00B204E9800998ECF8427E") problems.Add("Generate of no bytes is not MD5's");
        if (problems.Count > 0)
        {
            Console.Error.WriteLine(string.Join("\n", problems));
            return 1;
        }
        Console.WriteLine(rows.Count + " rows, each its Hardware ID, " + beyond + " with bytes beyond ASCII, 8 threads agreeing");
        return 0;
    }
}
