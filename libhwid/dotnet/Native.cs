using System;
using System.IO;
using System.Reflection;
using System.Runtime.CompilerServices;
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
            return Windows ? Kernel32.Open(path) : Dl.Open(path);
        }

        static class Kernel32
        {
            // The altered search order finds hwid.dll's own dependencies from its folder, not
            // the program's; it needs none but Windows' own.
            [MethodImpl(MethodImplOptions.NoInlining)]
            internal static Native Open(string path)
            {
                IntPtr handle = LoadLibraryExW(path, IntPtr.Zero, LOAD_WITH_ALTERED_SEARCH_PATH);
                if (handle == IntPtr.Zero)
                    throw new DllNotFoundException(path + " does not load: Windows error " + Marshal.GetLastWin32Error());
                return new Native(handle, GetProcAddress);
            }

            internal const uint LOAD_WITH_ALTERED_SEARCH_PATH = 0x8;
            [DllImport("kernel32.dll", CharSet = CharSet.Unicode, SetLastError = true, ExactSpelling = true)]
            internal static extern IntPtr LoadLibraryExW(string path, IntPtr file, uint flags);
            [DllImport("kernel32.dll", CharSet = CharSet.Ansi, ExactSpelling = true, BestFitMapping = false)]
            internal static extern IntPtr GetProcAddress(IntPtr module, string name);
        }

        // dlopen is libc's from glibc 2.34 on, which the shipped libhwid needs anyway. Mono looks
        // a DllImport's name up in the assembly's folder and its own lib folder before the
        // system's search, which LD_LIBRARY_PATH steers; "__Internal" is Mono's name for what
        // the process has loaded already, searching no folder at all. Elsewhere libc.so.6 is
        // that too: glibc's dlopen finds a loaded soname before it searches.
        static class Dl
        {
            const int RTLD_NOW = 2;
            [DllImport("__Internal", EntryPoint = "dlopen")] static extern IntPtr MonoOpen(string path, int flags);
            [DllImport("__Internal", EntryPoint = "dlsym")] static extern IntPtr MonoSym(IntPtr library, string name);
            [DllImport("__Internal", EntryPoint = "dlerror")] static extern IntPtr MonoError();
            [DllImport("libc.so.6", EntryPoint = "dlopen")] static extern IntPtr LibcOpen(string path, int flags);
            [DllImport("libc.so.6", EntryPoint = "dlsym")] static extern IntPtr LibcSym(IntPtr library, string name);
            [DllImport("libc.so.6", EntryPoint = "dlerror")] static extern IntPtr LibcError();

            // One method for each: Mono binds every DllImport a method calls when it compiles it.
            [MethodImpl(MethodImplOptions.NoInlining)]
            internal static Native Open(string path)
            {
                return Type.GetType("Mono.Runtime", false) != null ? OpenInMono(path) : OpenInLibc(path);
            }

            [MethodImpl(MethodImplOptions.NoInlining)]
            static Native OpenInMono(string path)
            {
                IntPtr handle = MonoOpen(path, RTLD_NOW);
                if (handle == IntPtr.Zero) throw Failed(path, MonoError());
                return new Native(handle, MonoSym);
            }

            [MethodImpl(MethodImplOptions.NoInlining)]
            static Native OpenInLibc(string path)
            {
                IntPtr handle = LibcOpen(path, RTLD_NOW);
                if (handle == IntPtr.Zero) throw Failed(path, LibcError());
                return new Native(handle, LibcSym);
            }

            static DllNotFoundException Failed(string path, IntPtr error)
            {
                return new DllNotFoundException(error == IntPtr.Zero ? path + " does not load" : Text.Utf8.GetString(Text.Bytes(error)));
            }
        }
    }
}
