import numpy as np

isa: str

utci: np.ufunc
utci_category: np.ufunc
interval_cos_zenith: np.ufunc
split_global: np.ufunc
standing_person: np.ufunc
