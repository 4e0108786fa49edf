import numpy as np

isa: str

Sonnenzeit: np.ufunc
Zenitwinkel: np.ufunc
Azimutwinkel: np.ufunc
LinkeTruebung: np.ufunc
RelOptLuftmasse: np.ufunc
MaxDirekteStrahlung: np.ufunc
MaxGlobalstrahlung: np.ufunc
DirStrMBew: np.ufunc
AtmosGegenstr: np.ufunc
OberflTemp: np.ufunc
MittlStrTemp: np.ufunc
