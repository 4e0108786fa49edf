"""One interpreter per process: a second one is refused with the module's own
ImportError and the first keeps a working module. And the one binding
failure that only the C API can provoke: a keyword name that is no string."""

import ctypes
import subprocess
import sys
import textwrap
import traceback

import pytest

import quarnel.Strahlwerk as S
from support import child_env
from support.module_surface import PUBLIC

REFUSAL = ("Interpreter change detected - this module can only be loaded into one interpreter "
           "per process.")

needs_interpreters = pytest.mark.skipif(sys.version_info < (3, 13),
                                        reason="the _interpreters module is new in 3.13")


def run_child(code):
    """Runs `code` in a fresh process (a crash there fails the test, not the run)."""
    proc = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=child_env(),
                          capture_output=True, text=True, timeout=120)
    assert proc.returncode == 0, f"exit {proc.returncode}\n{proc.stdout}\n{proc.stderr}"
    return proc.stdout.split()


# The child imports the module in its main interpreter, then tries the import
# in a second one of the given configuration and reports what happened there
# and whether the first module still computes what it did.
CHILD = """
    import sys
    import _interpreters
    import numpy as np
    import quarnel.Strahlwerk as S

    def everything():
        z = S.Zenitwinkel(np.linspace(0, 24, 1000), 52.5, 172)
        return [S.Sonnenzeit(12, 1, 15, 81), S.Zenitwinkel(12.0, 52.5, 172), z.sum(),
                S.Azimutwinkel(10, 52.5, 172), S.LinkeTruebung(172, 52.5, 60),
                S.RelOptLuftmasse(90.5), S.MaxDirekteStrahlung(172, 500, 30, 3.5, 1.15),
                S.MaxGlobalstrahlung(172, 500, 30, 3.5), S.DirStrMBew(800, 2),
                S.AtmosGegenstr(20, 10, 4), S.OberflTemp(500, 20, 2, 1),
                S.MittlStrTemp(30, 150, 400, 300, 100, 600, None, 0.3, None)]

    before = everything()
    interp = _interpreters.create({config!r})
    failure = _interpreters.exec(interp, "import sys; sys.path[:] = " + repr(sys.path) +
                                 "; import quarnel.Strahlwerk")
    _interpreters.destroy(interp)
    print("refused" if failure is not None and failure.type.__name__ == "ImportError"
          and failure.msg == {refusal!r} else f"other:{{failure!r}}")
    import importlib
    again = importlib.import_module("quarnel.Strahlwerk")
    print("same-module" if again is S and sys.modules["quarnel.Strahlwerk"] is S else "other-module")
    print("working" if repr(everything()) == repr(before) else "changed")
"""


@needs_interpreters
@pytest.mark.parametrize("config", ["isolated", "legacy"])
def test_second_interpreter_is_refused_and_first_keeps_working(config):
    assert run_child(CHILD.format(config=config, refusal=REFUSAL)) == [
        "refused", "same-module", "working"]


@needs_interpreters
def test_refused_through_the_high_level_interpreters_module():
    code = f"""
        import sys
        import quarnel.Strahlwerk as S
        try:
            from test.support import interpreters
        except ImportError:
            print("unavailable"); raise SystemExit
        interp = interpreters.create()
        try:
            interp.exec("import sys; sys.path[:] = " + repr(sys.path) + "; import quarnel.Strahlwerk")
        except interpreters.ExecutionFailed as exc:
            print("refused" if exc.excinfo.type.__name__ == "ImportError"
                  and exc.excinfo.msg == {REFUSAL!r} else "other")
        else:
            print("imported")
        interp.close()
        print(S.Sonnenzeit(12, 1, 15, 81))
    """
    out = run_child(code)
    if out == ["unavailable"]:
        pytest.skip("test.support.interpreters not installed")
    assert out == ["refused", "12.0"]


# PyObject_Vectorcall(callable, args, nargsf, kwnames): the keyword names in
# a tuple of any objects, as no Python-level call can pass them.
# (exported from 3.12 on; an inline function before).
vectorcall = getattr(ctypes.pythonapi, "PyObject_Vectorcall", None)
if vectorcall:
    vectorcall.restype = ctypes.py_object
    vectorcall.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t,
                           ctypes.py_object]
needs_vectorcall = pytest.mark.skipif(not vectorcall, reason="PyObject_Vectorcall not exported")


def c_call(fn, args, kwnames):
    array = (ctypes.py_object * len(args))(*args)
    return vectorcall(fn, array, len(args) - len(kwnames), kwnames)


@needs_vectorcall
@pytest.mark.parametrize("name,params,first_line", PUBLIC)
def test_keyword_that_is_no_string(name, params, first_line):
    fn = getattr(S, name)
    values = [1.0] * len(params)
    for key in (1, None, b"szeit", (params[-1],)):
        with pytest.raises(TypeError) as info:
            c_call(fn, values, (key,))
        assert str(info.value) == f"{name}() keywords must be strings"
        entries = [(f.name, f.lineno) for f in traceback.extract_tb(info.value.__traceback__)
                   if f.name.startswith("quarnel.")]
        assert entries == [("quarnel.Strahlwerk." + name, first_line)]


@needs_vectorcall
def test_keyword_names_only_the_c_api_can_pass():
    # The same name twice in one call.
    with pytest.raises(TypeError, match=r"^Sonnenzeit\(\) got multiple values for keyword "
                                        r"argument 'dayofyear'$"):
        c_call(S.Sonnenzeit, [12, 1, 81, 82], ("dayofyear", "dayofyear"))
    # A str subclass equal to a parameter name binds by equality.
    class Name(str):
        pass

    assert c_call(S.Sonnenzeit, [12, 1, 15, 81], (Name("dayofyear"),)) == S.Sonnenzeit(12, 1, 15, 81)
    # A name that is not valid text still gets the module's message.
    with pytest.raises(TypeError, match=r"unexpected keyword argument"):
        c_call(S.Sonnenzeit, [12, 1, 15, 81], ("\udcff",))
