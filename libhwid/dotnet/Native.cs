using System;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;

namespace Zef.Hwid
{
    // The library's functions, called through pointers taken from the one file that ships with
    // this assembly. A [DllImport("hwid")] would leave the choice of file to the runtime, and each
    // runtime searches for it its own way (Mono and .NET Framework try the current folder, PATH
    // or LD_LIBRARY_PATH); a file loaded here by its absolute path and called through its own
    // exports leaves the runtime nothing to look up.
    internal sealed unsafe class Native
    {
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate IntPtr VersionFn();
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate IntPtr StrerrorFn(int status);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate int ListNewFn(out IntPtr list);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate void ListFreeFn(IntPtr list);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate UIntPtr ListCountFn(IntPtr list);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate int ListTypeFn(IntPtr list, UIntPtr index);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate IntPtr ListTextFn(IntPtr list, UIntPtr index);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate int GenerateFn(byte* deviceId, UIntPtr length, byte* hardwareId);
        [UnmanagedFunctionPointer(CallingConvention.Cdecl)] internal delegate int PresentFn(byte* hardwareId);

        internal readonly VersionFn Version;
        internal readonly StrerrorFn Strerror;
        internal readonly ListNewFn ListNew;
        internal readonly ListFreeFn ListFree;
        internal readonly ListCountFn ListCount;
        internal readonly ListTypeFn ListType;
        internal readonly ListTextFn HardwareId, DeviceId, Comment;
        internal readonly GenerateFn Generate;
        internal readonly PresentFn Present;

        // Loaded once and never unloaded: a row's strings and the delegates point into it.
        static readonly Lazy<Native> loaded = new Lazy<Native>(Load, System.Threading.LazyThreadSafetyMode.ExecutionAndPublication);

        internal static Native Api { get { return loaded.Value; } }

        Native(IntPtr library, Func<IntPtr, string, IntPtr> export)
        {
            Version = Bind<VersionFn>(library, export, "hwid_version");
            Strerror = Bind<StrerrorFn>(library, export, "hwid_strerror");
            ListNew = Bind<ListNewFn>(library, export, "hwid_list_new");
            ListFree = Bind<ListFreeFn>(library, export, "hwid_list_free");
            ListCount = Bind<ListCountFn>(library, export, "hwid_list_count");
            ListType = Bind<ListTypeFn>(library, export, "hwid_list_type");
            HardwareId = Bind<ListTextFn>(library, export, "hwid_list_hardware_id");
            DeviceId = Bind<ListTextFn>(library, export, "hwid_list_device_id");
            Comment = Bind<ListTextFn>(library, export, "hwid_list_comment");
            Generate = Bind<GenerateFn>(library, export, "hwid_generate");
            Present = Bind<PresentFn>(library, export, "hwid_present");
        }

        static T Bind<T>(IntPtr library, Func<IntPtr, string, IntPtr> export, string name) where T : class
        {
            IntPtr function = export(library, name);
            if (function == IntPtr.Zero)
                throw new EntryPointNotFoundException(name + " is missing from the loaded libhwid: it is older than this assembly");
            return (T)(object)Marshal.GetDelegateForFunctionPointer(function, typeof(T));
        }

        internal static bool Windows { get { return RuntimeInformation.IsOSPlatform(OSPlatform.Windows); } }

        // The runtime identifiers NuGet lays the native files out by.
        static string Rid()
        {
            Architecture cpu = RuntimeInformation.ProcessArchitecture;
            if (Windows && cpu == Architecture.X64) return "win-x64";
            if (Windows && cpu == Architecture.X86) return "win-x86";
            if (RuntimeInformation.IsOSPlatform(OSPlatform.Linux) && cpu == Architecture.X64) return "linux-x64";
            if (RuntimeInformation.IsOSPlatform(OSPlatform.Linux) && cpu == Architecture.Arm64) return "linux-arm64";
            throw new PlatformNotSupportedException("Zef.Hwid has no libhwid for " + RuntimeInformation.OSDescription.Trim()
                + " on " + cpu + ": it runs on Linux (x64, arm64) and Windows (x64, x86)");
        }

        // Where a build puts the file: runtimes/RID/native/ in a framework-dependent output or a
        // NuGet layout, beside the assembly in a RID-specific publish or a .NET Framework output.
        // The assembly's own folder first; the application's base folder covers an assembly
        // loaded from bytes or bundled into one file, whose Location is empty.
        static Native Load()
        {
            string rid = Rid(), name = Windows ? "hwid.dll" : "libhwid.so";
            var tried = new System.Collections.Generic.List<string>();
            foreach (string folder in new[] { Path.GetDirectoryName(typeof(Native).Assembly.Location), AppContext.BaseDirectory })
            {
                if (string.IsNullOrEmpty(folder) || !Path.IsPathRooted(folder)) continue;
                foreach (string path in new[] { Path.Combine(folder, "runtimes", rid, "native", name), Path.Combine(folder, name) })
                {
                    string full = Path.GetFullPath(path);
                    if (tried.Contains(full)) continue;
                    tried.Add(full);
                    if (File.Exists(full)) return Open(full);
                }
            }
            throw new DllNotFoundException(name + " for " + rid + " is in none of: " + string.Join(", ", tried.ToArray()));
        }

        static Native Open(string path)
        {
            // .NET Core 3 and later: its own loader, which takes an absolute path as it is.
            Type nativeLibrary = typeof(Marshal).Assembly.GetType("System.Runtime.InteropServices.NativeLibrary", false);
            MethodInfo load = nativeLibrary == null ? null : nativeLibrary.GetMethod("Load", new[] { typeof(string) });
            MethodInfo getExport = nativeLibrary == null ? null : nativeLibrary.GetMethod("GetExport", new[] { typeof(IntPtr), typeof(string) });
            if (load != null && getExport != null)
            {
                IntPtr handle;
                try { handle = (IntPtr)load.Invoke(null, new object[] { path }); }
                catch (TargetInvocationException e) { throw e.InnerException; }
                return new Native(handle, (library, name) =>
                {
                    try { return (IntPtr)getExport.Invoke(null, new object[] { library, name }); }
                    catch (TargetInvocationException) { return IntPtr.Zero; }
                });
            }
            if (Windows)
            {
                // The altered search order finds hwid.dll's own dependencies from its folder, not
                // the program's; it needs none but Windows' own.
                IntPtr handle = Kernel32.LoadLibraryExW(path, IntPtr.Zero, Kernel32.LOAD_WITH_ALTERED_SEARCH_PATH);
                if (handle == IntPtr.Zero)
                    throw new DllNotFoundException(path + " does not load: Windows error " + Marshal.GetLastWin32Error());
                return new Native(handle, Kernel32.GetProcAddress);
            }
            return Dl.Open(path);
        }

        static class Kernel32
        {
            internal const uint LOAD_WITH_ALTERED_SEARCH_PATH = 0x8;
            [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true, ExactSpelling = true)]
            internal static extern IntPtr LoadLibraryExW(string path, IntPtr file, uint flags);
            [DllImport("kernel32.dll", CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
            internal static extern IntPtr GetProcAddress(IntPtr module, string name);
        }

        // dlopen lives in libdl.so.2 before glibc 2.34 and in libc.so.6 from it on (libdl.so.2
        // still there, empty but for compatibility). Both are in the process already, so
        // dlopen by those sonames returns the loaded copies and searches no folder.
        static class Dl
        {
            const int RTLD_NOW = 2;
            [DllImport("libdl.so.2", EntryPoint = "dlopen")] static extern IntPtr DlOpen(string path, int flags);
            [DllImport("libdl.so.2", EntryPoint = "dlsym")] static extern IntPtr DlSym(IntPtr library, string name);
            [DllImport("libdl.so.2", EntryPoint = "dlerror")] static extern IntPtr DlError();
            [DllImport("libc.so.6", EntryPoint = "dlopen")] static extern IntPtr COpen(string path, int flags);
            [DllImport("libc.so.6", EntryPoint = "dlsym")] static extern IntPtr CSym(IntPtr library, string name);
            [DllImport("libc.so.6", EntryPoint = "dlerror")] static extern IntPtr CError();

            internal static Native Open(string path)
            {
                bool fromLibc = false;
                IntPtr handle;
                try { handle = DlOpen(path, RTLD_NOW); }
                catch (DllNotFoundException) { fromLibc = true; handle = COpen(path, RTLD_NOW); }
                catch (EntryPointNotFoundException) { fromLibc = true; handle = COpen(path, RTLD_NOW); }
                if (handle == IntPtr.Zero)
                {
                    IntPtr error = fromLibc ? CError() : DlError();
                    throw new DllNotFoundException(error == IntPtr.Zero ? path + " does not load"
                        : Text.Utf8.GetString(Text.Bytes(error)));
                }
                if (fromLibc) return new Native(handle, CSym);
                return new Native(handle, DlSym);
            }
        }
    }
}
