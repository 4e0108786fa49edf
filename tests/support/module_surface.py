"""The module's public functions: name, parameters, and the first line of
each in the module's source (its traceback entries count from there)."""

PUBLIC = [
    ("Sonnenzeit", ["szeit", "zeitzone", "laenge", "dayofyear"], 6),
    ("Zenitwinkel", ["szeit", "breite", "dayofyear"], 31),
    ("Azimutwinkel", ["szeit", "breite", "dayofyear"], 47),
    ("LinkeTruebung", ["dayofyear", "breite", "RH"], 80),
    ("RelOptLuftmasse", ["zenitwinkel"], 98),
    ("MaxDirekteStrahlung", ["dayofyear", "mHoehe", "zenitwinkel", "LinkeTr", "RelOptLuftM"], 117),
    ("MaxGlobalstrahlung", ["dayofyear", "mHoehe", "zenitwinkel", "LinkeTr"], 141),
    ("DirStrMBew", ["Imax", "N"], 156),
    ("AtmosGegenstr", ["LuftTemp", "Dampfdruck", "N"], 161),
    ("OberflTemp", ["Strahlungsbilanz", "LuftTemp", "WindGeschw", "Bowen"], 193),
    ("MittlStrTemp", ["zenitwinkel", "EStrOben", "EStrUnten", "AGegenstr", "DiffStr", "MaxDirStr",
                      "ReflStr", "albedo", "albedo_env"], 211),
]
