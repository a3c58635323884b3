"""QuorvexCOM.so as a loaded library: what it exports and links, how
objects are made and counted, registration through its exports, and the
configuration file named after the library file."""
import ctypes
import os
import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "support"))
import webcom_client as wc  # noqa: E402
import webcom_env  # noqa: E402

POP3_CLSID = "{6971D9B8-B53E-4C25-A414-76199768A592}"
SMTP_CLSID = "{0609792F-AB56-4CB6-8909-19CDF72CB2A0}"
ADMIN_CLSID = "{8E7523FF-8FDD-445D-AA5F-6CE3664B1204}"


@pytest.fixture
def component(tmp_path):
    library = tmp_path / "QuorvexCOM.so"
    shutil.copy(webcom_env.LIBRARY, library)
    return wc.Component(str(library))


def test_exports_only_its_c_interface_and_links_nothing_it_does_not_use():
    listing = subprocess.run(["nm", "-D", "--defined-only", webcom_env.LIBRARY], capture_output=True, text=True,
                             check=True).stdout
    assert sorted(line.split()[-1] for line in listing.splitlines() if line.strip()) == sorted(wc.EXPORTS)
    needed = [line.split("[")[1].rstrip("]") for line in
              subprocess.run(["readelf", "-d", webcom_env.LIBRARY], capture_output=True, text=True,
                             check=True).stdout.splitlines() if "(NEEDED)" in line]
    allowed = ("libstdc++.so", "libgcc_s.so", "libc.so", "ld-linux", "libm.so", "libasan.so", "libubsan.so")
    assert all(name.startswith(allowed) for name in needed), needed
    assert not any("odbc" in name or "ssl" in name or "crypto" in name for name in needed)


def test_objects_by_progid_and_clsid(component):
    for name in ["QuorvexCOM.POP3", "QuorvexCOM.POP3.1", POP3_CLSID, POP3_CLSID.lower(), "quorvexcom.admin",
                 "QuorvexCOM.Admin.1", ADMIN_CLSID, "QuorvexCOM.SMTP", "QuorvexCOM.SMTP.1", SMTP_CLSID]:
        status, handle = component.create_status(name)
        assert status == wc.S_OK and handle.value, name
        assert component.lib.QvxRelease(handle) == 0
    for name in ["QuorvexCOM.Nothing", "", "6971D9B8-B53E-4C25-A414-76199768A592", "QuorvexCOM.POP3.2"]:
        status, handle = component.create_status(name)
        assert status == wc.REGDB_E_CLASSNOTREG and not handle.value, name


def test_objects_and_locks_keep_the_library_loaded(component):
    assert component.can_unload() == wc.S_OK
    pop3 = component.create("QuorvexCOM.POP3")
    assert component.can_unload() == wc.S_FALSE
    assert pop3.add_ref() == 2
    assert pop3.release() == 1
    assert component.can_unload() == wc.S_FALSE
    assert pop3.release() == 0
    assert component.can_unload() == wc.S_OK

    factory = ctypes.POINTER(wc.QvxClassFactory)()
    assert component.lib.DllGetClassObject(SMTP_CLSID.encode(), ctypes.byref(factory)) == wc.S_OK
    assert component.lib.DllGetClassObject(b"QuorvexCOM.Admin", ctypes.byref(factory)) == wc.CLASS_E_CLASSNOTAVAILABLE
    assert component.lib.DllGetClassObject(ADMIN_CLSID.encode(), ctypes.byref(factory)) == wc.S_OK
    assert factory.contents.LockServer(factory, 1) == wc.S_OK
    assert component.can_unload() == wc.S_FALSE
    handle = ctypes.c_void_p()
    assert factory.contents.CreateInstance(factory, ctypes.byref(handle)) == wc.S_OK
    admin = wc.ComObject(component, handle)
    assert admin.dispid("Find") == 31
    assert admin.release() == 0
    assert factory.contents.LockServer(factory, 0) == wc.S_OK
    assert component.can_unload() == wc.S_OK


def test_calls_the_member_table_cannot_match(component):
    with component.create("QuorvexCOM.POP3") as pop3:
        with pytest.raises(wc.ComError) as unknown:
            pop3.dispid("NoSuchMember")
        assert unknown.value.status == wc.DISP_E_UNKNOWNNAME
        assert pop3.invoke_raw(999, wc.METHOD)[0] == wc.DISP_E_MEMBERNOTFOUND
        assert pop3.invoke_raw(pop3.dispid("Login"), wc.METHOD, "only one")[0] == wc.DISP_E_BADPARAMCOUNT
        assert pop3.invoke_raw(pop3.dispid("GetMailData"), wc.METHOD, "one")[0] == wc.DISP_E_TYPEMISMATCH
        assert pop3.invoke_raw(pop3.dispid("LastResponse"), wc.PUT, "x")[0] == wc.DISP_E_MEMBERNOTFOUND
        # A number given as text converts, as scripting hosts convert it.
        assert pop3.invoke_raw(pop3.dispid("GetAttachInfo"), wc.METHOD, "3")[0] == wc.S_OK


def test_registration_through_the_exports(component, tmp_path):
    assert component.register() == 0
    registry = (tmp_path / "ComRegistry.ini").read_bytes().decode("latin-1")
    assert "[QuorvexCOM.POP3\\CLSID]\r\n@=%s" % POP3_CLSID in registry
    assert "[CLSID\\%s\\InprocServer32]\r\n@=%s\r\nThreadingModel=Apartment" % (SMTP_CLSID, component.path) in registry
    assert oct(os.stat(tmp_path / "ComRegistry.ini").st_mode & 0o777) == "0o644"
    assert component.unregister() == 0
    assert "QuorvexCOM" not in (tmp_path / "ComRegistry.ini").read_text()


def test_a_library_file_of_another_name_reads_its_own_ini(tmp_path):
    library = tmp_path / "Other.so"
    shutil.copy(webcom_env.LIBRARY, library)
    (tmp_path / "Other.ini").write_text("[system]\r\nDominame=other.test\r\n")
    (tmp_path / "QuorvexCOM.ini").write_text("[system]\r\nDominame=fixed.test\r\n")
    # Loaded through a link in another folder (to a copy of its own: the
    # loader would hand back the copy already loaded), the link's folder counts.
    target, linked = tmp_path / "target", tmp_path / "linked"
    target.mkdir()
    linked.mkdir()
    shutil.copy(webcom_env.LIBRARY, target / "QuorvexCOM.so")
    os.symlink(target / "QuorvexCOM.so", linked / "QuorvexCOM.so")
    (linked / "QuorvexCOM.ini").write_text("[system]\r\nDominame=linked.test\r\n")
    for path, domain in [(library, "other.test"), (linked / "QuorvexCOM.so", "linked.test")]:
        with wc.Component(str(path)).create("QuorvexCOM.POP3") as pop3:
            assert pop3.get("MailDomain") == domain
