import numpy as np

isa: str

utci: np.ufunc
utci_category: np.ufunc
interval_cos_zenith: np.ufunc
split_global: np.ufunc
standing_person: np.ufunc
wbgt: np.ufunc
heat_index: np.ufunc
humidex: np.ufunc
apparent_temperature: np.ufunc
wind_chill: np.ufunc
pet: np.ufunc
pet_corrected: np.ufunc
pet_person: np.ufunc
pet_corrected_person: np.ufunc
