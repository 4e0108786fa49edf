import numpy as np

isa: str

utci: np.ufunc
utci_category: np.ufunc
